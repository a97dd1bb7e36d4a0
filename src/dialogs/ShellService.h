#pragma once

class QUrl;

// How the program hands a document or a web address to the desktop, which
// opens it with its default handler (the browser for a web page or an HTML
// file). Tests record the addresses instead.
class ShellService
{
public:
    virtual ~ShellService() = default;
    // Whether the desktop took it; callers do not report a failure.
    virtual bool open(const QUrl &url) = 0;
};

// The real one, on QDesktopServices::openUrl.
class QtShellService : public ShellService
{
public:
    bool open(const QUrl &url) override;
};
