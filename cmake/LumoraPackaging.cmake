# `cpack -G DEB` in the build folder makes lumora_<version>_<arch>.deb from
# the install rules. The shared libraries the executables link are found by
# dpkg-shlibdeps; what is loaded at run time by name (GStreamer elements, a
# font with Chinese characters, Qt's own translations) is listed by hand.

set(CPACK_PACKAGE_NAME lumora)
set(CPACK_PACKAGE_VENDOR "Lumora developers")
set(CPACK_PACKAGE_CONTACT "Lumora developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "证件照批量拍摄 - identity photos in bulk with a webcam")
set(CPACK_PACKAGE_DESCRIPTION
  "按名单用摄像头批量拍摄证件照：打开 dBase/FoxPro 名单，逐人拍摄、裁剪并保存照片，\n可将文件名写回记录。\nLumora takes identity photos in bulk with a webcam: it walks the rows of a\nroster (a dBase or FoxPro table), takes one photo per person, crops and saves\nit under a name formed from the row, and can write the file name back into\nthe record. The window is in Chinese.")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Lumora developers")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# v4l2src and jpegdec come from the good plugins, videotestsrc, videoconvert
# and appsink from the base ones, ximagesink (the live video on X11) from
# gstreamer1.0-x; without a CJK font the window is empty boxes. The face
# framing reads OpenCV's face data from opencv-data.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
  "gstreamer1.0-plugins-base, gstreamer1.0-plugins-good, fonts-wqy-microhei | fonts-wqy-zenhei | fonts-noto-cjk")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n, gstreamer1.0-x, opencv-data")

include(CPack)
