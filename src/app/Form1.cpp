#include "app/Form1.h"

#include "app/ButtonMnemonics.h"
#include "app/CameraPanel.h"
#include "app/CaptionPanel.h"
#include "app/CropFramePanel.h"
#include "app/DataTablePanel.h"
#include "app/FramingPanel.h"
#include "app/NamingPanel.h"
#include "app/PendingPanel.h"
#include "app/PhotoDayPanel.h"
#include "app/PreviewPanel.h"
#include "app/RosterResume.h"
#include "app/SaveCoordinator.h"
#include "app/ScanPanel.h"
#include "app/SettingsBinding.h"
#include "app/SettingsStore.h"
#include "app/ShotLimit.h"
#include "app/StatusLine.h"
#include "app/WindowLayout.h"
#include "capture/CaptureControl.h"
#include "data/CodeLookup.h"
#include "data/TableGrid.h"
#include "data/WriteBack.h"
#include "dialogs/DialogService.h"
#include "dialogs/MessageService.h"
#include "naming/FolderBrowser.h"
#include "naming/FormPhotoPath.h"
#include "print/GridPrintEngine.h"
#include "print/ScanCards.h"
#include "ui_Form1.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStatusBar>

#include <cmath>
#include <limits>

Form1::Form1(CaptureControl *capture, MessageService *messages, DialogService *dialogs,
             const QString &programFolder, DatabaseOpener opener, QWidget *parent)
    : QMainWindow(parent)
    , m_ui(new Ui::Form1)
    , m_capture(capture)
    , m_messages(messages)
    , m_dialogs(dialogs)
    , m_programFolder(programFolder)
{
    m_dataSource.opener = std::move(opener);
    m_ui->setupUi(this);
    m_ui->Grid1->showRoster(&m_roster, &m_cursor);
    ScrollCentralWidget(this);
    m_statusLine = new StatusLine(statusBar());
    // Permanent: a menu hint shown in the bar never hides it.
    statusBar()->addPermanentWidget(m_statusLine, 1);
    m_ui->Text1->setText(SettingsStore::defaultSaveFolder());
    m_preview = new PreviewPanel(m_ui->Frame2, m_ui->Image1, programFolder, this);
    m_camera = new CameraPanel({m_ui->Command1, m_ui->Command2, m_ui->Command3, m_ui->Command4,
                                m_ui->Command8, m_ui->Command5, m_ui->Command6, m_ui->opensx, m_ui->closesx,
                                m_ui->peizhao, m_ui->quxiao, m_ui->spset, m_ui->tpset},
                               capture, *m_preview, this);
    connect(m_camera, &CameraPanel::status, this, &Form1::setStatus);
    hostVideoWidget();
    // The parts keep their places; a bigger window gives the grid more
    // rows. The window starts at its smallest whole size, which fits a
    // 1366 x 768 screen with a title bar and a panel.
    m_ui->centralwidget->installEventFilter(this);
    layOutWindow();
    resize(minimumSizeHint());
    connectHandlers();
    m_data = new DataTablePanel({m_ui->Grid1, m_ui->Frame4, m_ui->Command9, m_ui->opentable, m_ui->Combo1,
                                 m_ui->Combo2, m_ui->Label5, m_ui->Chezd, m_ui->Comzd, m_ui->Chekzm,
                                 m_ui->Comgs, m_ui->Comkb1, m_ui->Comkb2, m_ui->Comfname1, m_ui->Comfname2,
                                 m_ui->Comt1, m_ui->Comt2},
                                m_dataSource, m_roster, m_cursor, m_naming, messages, dialogs, this);
    m_data->setObjectName(QStringLiteral("dataTablePanel"));
    connect(m_data, &DataTablePanel::status, this, &Form1::setStatus);
    Ui::Form1 *ui = m_ui;
    m_photoDay = new PhotoDayPanel(
        {ui->Grid1,
         ui->Frame4,
         ui->Combo1,
         ui->Label4,
         ui->Combo2,
         ui->datebase,
         {ui->Text1, ui->Chekb1, ui->Comkb1, ui->Chekb2, ui->Comkb2, ui->Comfname1, ui->Chefname2,
          ui->Comfname2, ui->Cheqbm, ui->Comgs, ui->Option1}},
        m_dataSource,
        [this] {
            return RosterCheckInput{namingInputs(), m_data->writeBackRequest()};
        },
        dialogs, this);
    connect(m_photoDay, &PhotoDayPanel::status, this, &Form1::setStatus);
    connect(m_photoDay, &PhotoDayPanel::reloadRequested, m_data, &DataTablePanel::reloadThroughFilter);
    // Through the save's coordinator, which holds a reload back while a
    // write-back runs.
    connect(m_data, &DataTablePanel::gridReloaded, this, [this] { m_saver->rosterReloaded(); });
    m_pending = new PendingPanel({ui->Grid1, ui->Frame4, m_photoDay->progressLabel(), ui->datebase},
                                 m_dataSource, m_naming, this);
    connect(m_pending, &PendingPanel::status, this, &Form1::setStatus);
    connect(m_data, &DataTablePanel::gridReloaded, m_pending, &PendingPanel::rosterShown);
    connect(m_data, &DataTablePanel::writeBackTried, m_pending, &PendingPanel::writeBackTried);
    layOutWindow();
    m_cropFrame = new CropFramePanel(
        {ui->Texg, ui->Textk, ui->Command10, ui->Tebg, ui->Tebk, ui->Command12, ui->Comsc, ui->bgcolor, this,
         ui->Frame2, ui->Frame3},
        capture, *m_preview, messages, dialogs, [this] { return videoArea(); }, [this] { layOutWindow(); },
        this);
    m_cropFrame->setObjectName(QStringLiteral("cropFramePanel"));
    connect(m_cropFrame, &CropFramePanel::status, this, &Form1::setStatus);
    m_framing = new FramingPanel(
        {ui->Comgg, ui->Cherl, ui->Cheqj, ui->Texg, ui->Textk, ui->Command10, ui->Frame2}, capture, this);
    m_framing->setObjectName(QStringLiteral("framingPanel"));
    connect(m_framing, &FramingPanel::status, this, &Form1::setStatus);
    connect(m_camera, &CameraPanel::liveChanged, m_framing, &FramingPanel::liveChanged);
    m_camera->setStillFramer([this] { return m_framing->frameStill(); });
    m_caption = new CaptionPanel({ui->Check1, ui->Frame5, ui->Comtext, ui->Comt1, ui->Cheta, ui->Comt2,
                                  ui->Textt, ui->Texleft, ui->Textop, ui->fLabel, ui->Command11, ui->Labet,
                                  ui->Texg, ui->Textk, ui->Option1, ui->Text2},
                                 *grid(), m_roster, m_cursor, m_naming, capture, messages, dialogs, this);
    m_scan = new ScanPanel({ui->Grid1, ui->Frame4, ui->zhaox, ui->Option1}, m_dataSource, capture, this);
    connect(m_scan, &ScanPanel::status, this, &Form1::setStatus);
    m_shots = new ShotLimit(m_dataSource, m_roster, messages, ui->zhaox, this);
    connect(m_scan, &ScanPanel::scanned, m_shots, &ShotLimit::scanned);
    connect(m_camera, &CameraPanel::stillTaken, m_shots,
            [this] { m_shots->stillTaken(m_cursor.currentRow()); });
    m_saver = new SaveCoordinator({ui->Texfname, ui->Texqbm, m_camera, m_preview, m_caption, m_namingPanel,
                                   m_data, m_pending, m_photoDay, &m_roster, &m_cursor, capture, messages,
                                   this, [this](const QString &text) { setStatus(text); },
                                   [this] { return statusText(); }, m_shots},
                                  this);
    m_resume = std::make_unique<RosterResume>(*this, m_dataSource, messages);
    // Selecting the option loads the table; when it is already selected the
    // new table must still be loaded.
    connect(m_data, &DataTablePanel::tableChosen, this, [this] {
        // What was said about the roster before is not said about this one.
        setStatus(QString());
        // The settings on show belong to the roster opened before.
        m_resume->leaveRoster();
        m_shots->forget();
        if (m_ui->Option1->isChecked())
            selectTableMode();
        else
            m_ui->Option1->setChecked(true);
        if (m_ui->Option1->isChecked() && m_tableLoaded) {
            m_data->setProgramChoosing(true);
            const QString resumed = m_resume->rosterOpened();
            m_data->setProgramChoosing(false);
            if (!resumed.isEmpty())
                setStatus(resumed);
        }
        m_photoDay->checkRoster(true);
        // The photo day starts: the hand scanner types into its line.
        if (m_tableLoaded)
            m_scan->box()->setFocus();
    });
    startUp();
    RestoreWindowPlacement(*this);
}

Form1::~Form1()
{
    // The capture control owns its video widget; give it back before our
    // children go.
    if (m_videoWidget)
        m_videoWidget->setParent(nullptr);
    // The roster and its cursor go before the grid that shows them.
    m_ui->Grid1->showRoster(nullptr, nullptr);
    delete m_ui;
}

TableGrid *Form1::grid() const
{
    return m_ui->Grid1;
}

void Form1::hostVideoWidget()
{
    QLabel *placeholder = m_ui->videoPlaceholder;
    if (!m_capture || !m_capture->videoWidget()) {
        placeholder->setText(QStringLiteral("没有摄像头组件：无法显示视频"));
        setStatus(QStringLiteral("摄像头组件无法创建，拍照功能不可用。"));
        return;
    }
    QWidget *video = m_capture->videoWidget();
    video->setParent(m_ui->centralwidget);
    video->setObjectName(QStringLiteral("WEBCAPPICTUREOCX1"));
    video->setGeometry(placeholder->geometry());
    m_capture->setWindowSize(placeholder->size());
    video->show();
    m_videoWidget = video;
    delete placeholder;
    m_ui->videoPlaceholder = nullptr;
}

void Form1::connectHandlers()
{
    Ui::Form1 *ui = m_ui;
    connect(ui->Command8, &QPushButton::clicked, this, [this] { saveHandling(); });
    connect(ui->savezhao, &QAction::triggered, this, [this] { saveHandling(); });

    // outexcel ("导出为Excel(&E)") has no action; the frame colour belongs to
    // the crop and frame panel.
    connect(ui->quit, &QAction::triggered, this, &Form1::quit);
    auto photoOfRow = [this](int row) { return PhotoOfRow(namingInputs(), m_naming, m_roster, row); };
    auto *printEngine = new GridPrintEngine(ui->Grid1, m_dialogs, m_messages, photoOfRow, this);
    printEngine->connectMenu(ui->pageset, ui->previewprint, this);
    printEngine->setCardOfRow([this](int row) { return scanCardOf(row); });
    auto *cards = new QAction(QStringLiteral("打印扫码卡"), this);
    cards->setObjectName(QStringLiteral("printcards"));
    cards->setToolTip(QStringLiteral("表中每人一张卡：姓名、班级、号码和号码的二维码，供扫码找人"));
    ui->datebase->insertAction(ui->outexcel, cards);
    connect(cards, &QAction::triggered, this, [this, printEngine] {
        if (!m_ui->Option1->isChecked() || !m_dataSource.hasTable()) {
            setStatus(QStringLiteral("打印扫码卡：请先以数据表方式打开名单"));
            return;
        }
        if (m_dataSource.keyColumns.isEmpty()) {
            setStatus(QStringLiteral("打印扫码卡：名单打开时没有选主键，卡上没有可扫的号码"));
            return;
        }
        printEngine->previewCards(this);
    });
    m_help = new HelpMenu(m_programFolder, m_messages, this);
    m_help->connectMenu(ui->helpzxs, ui->about, ui->indexzx);

    connect(ui->Option1, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            selectTableMode();
    });
    connect(ui->Option2, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            selectOrdinaryMode();
    });
    connect(ui->Comgs, &QComboBox::currentIndexChanged, this, &Form1::formatChosen);
    connect(ui->SSTab1, &QTabWidget::currentChanged, this, &Form1::settingsPageChanged);
    connect(ui->Chelock, &QCheckBox::clicked, this, &Form1::lockClicked);
    connectNamingHandlers();
}

void Form1::startUp()
{
    Ui::Form1 *ui = m_ui;

    // 1. Background size boxes from the video window.
    m_cropFrame->startUp(m_capture ? m_capture->windowSize() : ui->videoPlaceholder->size());

    // 2. Frame colour. A stored value that is no colour must not stop the
    // start-up half-way: the default is used instead.
    QStringList notes;
    {
        const QString stored = SettingsStore::get(QStringLiteral("biakuang"), QStringLiteral("1000"));
        qint32 packed = 0;
        if (SettingsBinding::wholeNumber(stored, packed) && SettingsBinding::validPackedColour(packed)) {
            m_preview->setFrameColour(packed);
        } else {
            m_preview->setFrameColour(1000);
            notes << QStringLiteral("相框颜色设置无效（%1），已用默认颜色。").arg(stored);
        }
    }

    // 3, 4. Crop size.
    if (m_capture) {
        m_capture->SetCropWidth(150);
        m_capture->SetCropHeight(200);
    }
    ui->Texg->setText(QStringLiteral("200"));
    ui->Textk->setText(QStringLiteral("150"));

    // 5, 6. Placeholder picture. Without it the preview stays empty and the
    // start-up goes on.
    if (!m_preview->loadPicture(m_preview->placeholderPath()))
        notes << QStringLiteral("找不到占位图片 default.bmp，预览区为空。");
    CentrePreviewPicture();

    // 7. Ordinary mode.
    ui->Option2->setChecked(true);

    // 8. Picture formats; choosing "jpg" runs the format handling.
    {
        const QSignalBlocker block(ui->Comgs);
        ui->Comgs->clear();
        ui->Comgs->addItems({QStringLiteral("jpg"), QStringLiteral("bmp")});
        ui->Comgs->setCurrentIndex(-1);
    }
    ui->Comgs->setCurrentIndex(0);

    // 9, 10. Grid.
    grid()->setGridColors(QColor(231, 235, 247), QColor(239, 243, 255));
    grid()->setGridColumnWidth(0, 30);
    m_cursor.setCurrentRow(1);

    // 11. Naming controls.
    ui->Chekb2->setChecked(false);
    ui->Chekb2->setEnabled(false);
    ui->Comkb1->setEnabled(false);
    ui->Comkb2->setEnabled(false);
    ui->Chezd->setChecked(false);
    ui->Texqbm->setEnabled(false);
    ui->Comzd->setEnabled(false);
    ui->Chekzm->setEnabled(false);
    ui->Comfname2->setEnabled(false);

    // 12. Only "打开摄像头" among the camera buttons.
    m_camera->setButtons(1, 0, 0, 0, 0, 0, 0);

    // 13. Overlay sources, none selected.
    {
        const QSignalBlocker block(ui->Comtext);
        ui->Comtext->clear();
        ui->Comtext->addItems(
            {QStringLiteral("照片文件名"), QStringLiteral("从数据表中提取"), QStringLiteral("自定义")});
        ui->Comtext->setCurrentIndex(-1);
    }

    // 14. Stored settings, then the photo rule and framing choices stored
    // beside them (a rule's size replaces the boxes' restored one).
    redzpsvset();
    m_framing->restore();

    // 15. Overlay panel.
    ui->Frame5->hide();
    ui->Comt2->setEnabled(false);

    // 16. The settings tabs take the keyboard focus first.
    QWidget::setTabOrder(ui->SSTab1, ui->Text1);
    ui->SSTab1->setFocus();
    m_lastPage = ui->SSTab1->currentIndex();

    // The pictures folder is made only when photos are to go there; a save
    // folder stored elsewhere leaves the home folder as it is.
    if (ui->Text1->text() == SettingsStore::defaultSaveFolder() && !QFileInfo::exists(ui->Text1->text()))
        QDir().mkpath(ui->Text1->text());

    if (!notes.isEmpty())
        setStatus(statusText().isEmpty() ? notes.join(QLatin1Char(' '))
                                         : statusText() + QLatin1Char(' ') + notes.join(QLatin1Char(' ')));
}

// ---------------------------------------------------------------- settings

void Form1::zpsvset()
{
    Ui::Form1 *ui = m_ui;
    if (ui->Texfname->text().isEmpty())
        ui->Texfname->setText(QStringLiteral("DC"));
    if (ui->Text1->text().isEmpty())
        ui->Text1->setText(SettingsStore::defaultSaveFolder());

    const QString refused = settingsBinding().write(QStringLiteral("zpsvset"));
    if (!refused.isEmpty())
        setStatus(QStringLiteral("保存设置失败：%1").arg(refused));
}

void Form1::zpset()
{
    settingsBinding().write(QStringLiteral("zpset"));
    m_framing->save();
}

SettingsBinding Form1::settingsBinding()
{
    return SettingsBinding(*this, [this](const QString &control) {
        if (control == QLatin1String("fLabel (font size)"))
            return QString::number(float(overlayFontSize()), 'g', 7);
        if (control == QLatin1String("fLabel (text colour)"))
            return QString::number(overlayColour());
        return QString();
    });
}

void Form1::redzpsvset()
{
    SettingsBinding::Restorer restorer;
    restorer.setCropWidth = [this](qint32 width) {
        if (m_capture)
            m_capture->SetCropWidth(width);
    };
    restorer.setCropHeight = [this](qint32 height) {
        if (m_capture)
            m_capture->SetCropHeight(height);
    };
    restorer.setFontSize = [this](double points) { setOverlayFontSize(points); };
    restorer.setColour = [this](qint32 packed) { setOverlayColour(packed); };
    settingsBinding().redzpsvset(restorer);
    // A photo rule chosen in this run fixes the size the restore just
    // brought back from the last one.
    if (m_framing)
        m_framing->reapplyRule();
}

// -------------------------------------------------------------- the window

void Form1::closeEvent(QCloseEvent *event)
{
    if (!m_quitting) {
        zpsvset();
        zpset();
        SaveWindowPlacement(*this);
        m_resume->leaveRoster();
    }
    event->accept();
}

void Form1::quit()
{
    m_quitting = true;
    emit quitRequested();
}

void Form1::setStatus(const QString &text)
{
    // The table's warnings must not vanish under what is said while it
    // opens (the resumed settings, the photo day): they follow it.
    if (m_tableWarnings.isEmpty() || text.contains(m_tableWarnings))
        m_statusLine->setMessage(text);
    else
        m_statusLine->setMessage(text.isEmpty() ? m_tableWarnings
                                                : text + QStringLiteral("；") + m_tableWarnings);
}

QString Form1::statusText() const
{
    return m_statusLine->message();
}

void Form1::SetTableModeControls(bool tableMode)
{
    Ui::Form1 *ui = m_ui;
    for (QWidget *w : {static_cast<QWidget *>(ui->Chekb1), static_cast<QWidget *>(ui->Chekb2),
                       static_cast<QWidget *>(ui->Comkb1), static_cast<QWidget *>(ui->Comkb2),
                       static_cast<QWidget *>(ui->Comfname1), static_cast<QWidget *>(ui->Comfname2),
                       static_cast<QWidget *>(ui->Chefname2), static_cast<QWidget *>(ui->Chezd),
                       static_cast<QWidget *>(ui->Comzd), static_cast<QWidget *>(ui->Chekzm)})
        w->setVisible(tableMode);
    ui->Texfname->setVisible(!tableMode);
    for (QWidget *w : {static_cast<QWidget *>(ui->Combo1), static_cast<QWidget *>(ui->Combo2),
                       static_cast<QWidget *>(ui->Label5), static_cast<QWidget *>(ui->Label4)})
        w->setEnabled(tableMode);
}

void Form1::settingsPageChanged(int index)
{
    const int left = m_lastPage;
    m_lastPage = index;
    if (left == 1 && index == 0)
        m_ui->Text1->setFocus();
}

void Form1::lockClicked(bool checked)
{
    if (!m_ui->Option1->isChecked())
        return;
    m_ui->SSTab1->setEnabled(!checked);
    m_ui->Chelock->setText(checked ? QStringLiteral("解除锁定保存") : QStringLiteral("锁定保存设置"));
}

// ------------------------------------------------------------------- modes

void Form1::selectTableMode()
{
    Ui::Form1 *ui = m_ui;
    m_tableLoaded = false;
    if (!m_dataSource.hasTable()) {
        m_messages->show(this, QStringLiteral("请先打开数据表"));
        ui->Option1->setAutoExclusive(false);
        ui->Option1->setChecked(false);
        ui->Option1->setAutoExclusive(true);
        ui->Option2->setChecked(true);
        return;
    }
    m_tableWarnings.clear();
    if (!m_data->loadIntoGrid())
        return;
    m_tableWarnings = m_data->tableWarnings();
    if (!m_tableWarnings.isEmpty())
        setStatus(statusText());
    SetTableModeControls(true);
    ui->Chelock->setEnabled(true);
    if (m_cursor.columnsListed()) {
        // The pickers address fields by position: a different table needs
        // them filled afresh, and the filter of the old table goes with them.
        if (m_data->loadedTableIdentity() != m_pickersTable) {
            m_dataSource.whereClause.clear();
            m_data->refreshColumnPickers();
            m_pickersTable = m_data->loadedTableIdentity();
        }
        m_data->followKeys();
        grid()->selectRange(m_cursor.resumeRow(), 1, m_cursor.resumeRow(), m_roster.cols() - 1);
    } else {
        m_data->refreshColumnPickers();
        m_pickersTable = m_data->loadedTableIdentity();
        redzpsvset();
        m_cursor.setColumnsListed(true);
    }
    m_tableLoaded = true;
    m_photoDay->refresh();
}

void Form1::selectOrdinaryMode()
{
    m_tableWarnings.clear();
    SetTableModeControls(false);
    m_ui->Chelock->setEnabled(false);
    m_ui->Texfname->setText(QStringLiteral("DC"));
    m_roster.setRows(1);
    for (int c = 1; c < m_roster.cols(); ++c)
        m_roster.setCellText(0, c, QString());
    m_photoDay->refresh();
}

void Form1::formatChosen(int index)
{
    formPhotoPath();
    if (m_capture) {
        if (index == 0)
            m_capture->SetSaveFormat(QString());
        else if (index == 1)
            m_capture->SetSaveFormat(QStringLiteral("BMP"));
    }
    m_namingPanel->updateExtensionCaption();
}

// ----------------------------------------------------------- preview panel

QString Form1::tempPhotoPath() const
{
    return m_preview->tempPhotoPath();
}

void Form1::setProgramFolderShared(bool shared)
{
    m_preview->setProgramFolderShared(shared);
}

void Form1::CentrePreviewPicture()
{
    m_preview->CentrePreviewPicture();
}

void Form1::ShowCurrentRowPhoto()
{
    m_preview->showPhotoOrPlaceholder(m_naming.photoPath);
}

void Form1::ShowListedPhoto(int row)
{
    m_preview->showListed(m_roster.cellText(row, 2));
}

int Form1::frameColour() const
{
    return m_preview->frameColour();
}

// ------------------------------------------------------- naming and saving

void Form1::connectNamingHandlers()
{
    Ui::Form1 *ui = m_ui;
    m_namingPanel = new NamingPanel({ui->Text1, ui->Command7, ui->Chekb1, ui->Comkb1, ui->Chekb2, ui->Comkb2,
                                     ui->Texfname, ui->Comfname1, ui->Chefname2, ui->Comfname2, ui->Cheqbm,
                                     ui->Texqbm, ui->Comgs, ui->Chekzm, ui->Option1, ui->Text2},
                                    m_naming, m_roster, m_cursor, m_messages, m_dialogs, m_statusLine, this);
    connect(grid(), &TableGrid::rowChanged, this, &Form1::gridRowChanged);
    connect(grid(), &TableGrid::cellClicked, this, &Form1::gridClicked);

    // Alt+S names both the menu "设置(&S)" and "保存照片(&S)"; the buttons win.
    new ButtonMnemonics({ui->Command3, ui->Command4, ui->Command8},
                        {menuBar(), ui->Command3, ui->Command4, ui->Command8}, this);
}

NamingInputs Form1::namingInputs() const
{
    return m_namingPanel->inputs();
}

void Form1::formPhotoPath()
{
    m_namingPanel->formPhotoPath();
}

void Form1::gridRowChanged(int row)
{
    if (m_ui->Option1->isChecked()) {
        m_cursor.setCurrentRow(row);
        grid()->selectRange(row, 1, row, m_roster.cols() - 1);
        formPhotoPath();
        ShowCurrentRowPhoto();
    } else {
        m_cursor.setCurrentRow(grid()->activeRow());
        ShowListedPhoto(m_cursor.currentRow());
    }
}

ScanCard Form1::scanCardOf(int row) const
{
    ScanCard card;
    if (!IsRecordRow(m_roster, row) || m_dataSource.keyColumns.isEmpty())
        return card;
    card.key = m_roster.cellText(row, m_dataSource.keyColumns.constFirst()).trimmed();
    const int name = NameColumn(m_roster);
    card.name = name > 0 ? m_roster.cellText(row, name).trimmed() : QString();
    if (card.name.isEmpty())
        card.name = card.key;
    // The class: a column called so, else the first sub-folder's column when
    // photos are sorted into folders by it.
    int group = ClassColumn(m_roster);
    if (group == 0 && m_ui->Chekb1->isChecked() && m_ui->Comkb1->currentIndex() >= 0)
        group = m_ui->Comkb1->currentIndex() + 1;
    if (group > 0 && group < m_roster.cols())
        card.className = m_roster.cellText(row, group).trimmed();
    return card;
}

void Form1::gridClicked()
{
    m_cursor.setCurrentRow(grid()->activeRow());
    if (m_ui->Option1->isChecked())
        formPhotoPath();
}

void Form1::saveHandling()
{
    // A still that failed the framing checks is saved only when the
    // operator says so, if they asked to be asked.
    const QStringList failed = m_framing->stillFailed();
    if (m_framing->askBeforeSaving() && !failed.isEmpty() &&
        !m_messages->askYesNo(this,
                              QStringLiteral("取景检查未通过：%1。\n仍然保存这张照片吗？")
                                  .arg(failed.join(QStringLiteral("、"))),
                              MessageService::programTitle(), MessageService::Default::No)) {
        setStatus(QStringLiteral("没有保存：取景检查未通过（%1）").arg(failed.join(QStringLiteral("、"))));
        return;
    }
    // The operator has seen the table's warnings: the save's line replaces them.
    m_tableWarnings.clear();
    m_saver->save(m_naming);
}

// -------------------------------------------------------------- data table

QWidget *Form1::videoArea() const
{
    return m_videoWidget ? m_videoWidget.data() : m_ui->videoPlaceholder;
}

void Form1::layOutWindow()
{
    Ui::Form1 *ui = m_ui;
    const QRect video = videoArea()->geometry();
    const QRect top = ui->Frame2->geometry().united(ui->Frame3->geometry()).united(video);
    const LowerLayout l = LayOutLower(ui->centralwidget->size(), video, top.bottom() + 1);
    ui->Frame4->setGeometry(l.frame4);
    ui->Grid1->setGeometry(l.grid);
    ui->Command9->move(ui->Command9->x(), l.filterRowY);
    for (QWidget *w : {static_cast<QWidget *>(ui->Label5), static_cast<QWidget *>(ui->Combo1),
                       static_cast<QWidget *>(ui->Label4), static_cast<QWidget *>(ui->Combo2)})
        w->move(w->x(), l.filterRowY + 2);
    if (m_photoDay)
        m_photoDay->layOutFilterRow(l.filterRowY);
    if (m_scan)
        m_scan->layOut();
    ui->SSTab1->setGeometry(l.tabs);
    ui->Text2->setGeometry(l.pathLine);
    const QSize parts = MinimumCentralSize(video, top.bottom() + 1, top.right() + 1);
    ui->centralwidget->setMinimumSize(parts);
    // The window may be smaller than its parts only where the screen is.
    centralWidget()->setMinimumSize(parts.boundedTo(RoomOnScreen(*this)));
}

bool Form1::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_ui->centralwidget && event->type() == QEvent::Resize)
        layOutWindow();
    return QMainWindow::eventFilter(watched, event);
}
