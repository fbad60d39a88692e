#include "gui/CMainWindow.h"

#include <QApplication>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QResizeEvent>
#include <QScrollBar>
#include <QShortcut>
#include <QThread>

#include <algorithm>
#include <array>

#include "app/CKivOneClickDlg.h"
#include "app/CModuleVersion.h"
#include "app/TimeScaleRule.h"
#include "app/WindowTitle.h"
#include "engine/CRouterSession.h"
#include "engine/CUpgradeEngine.h"
#include "engine/ComponentEntry.h"
#include "gui/CHelpFile.h"
#include "gui/CListBridge.h"
#include "gui/WindowPlacement.h"
#include "gui/controls/CMyListCtrl.h"
#include "gui/controls/CThemeHelperST.h"
#include "gui/controls/CXPStyleButtonST.h"
#include "platform/CoreWarning.h"
#include "res/Resources.h"

static void InitIconResources() { Q_INIT_RESOURCE(icons); }

namespace {
constexpr uint32_t IDS_CHECK = 157;
constexpr uint32_t IDS_UPGRADE = 139;
constexpr int IDI_PROGRAM = 128;
constexpr int IDI_CHECK = 133;
constexpr int IDI_UPGRADE = 134;
constexpr uint32_t HOVER_CAPTION_COLOUR = 0x0000FF;
// Template size, 400 x 151 dialog units, widened so that a finished row fits (wider still
// when the desktop's font needs it: see WidthForAllColumns).
constexpr int DEFAULT_CLIENT_WIDTH = 900;
constexpr int DEFAULT_CLIENT_HEIGHT = 302;

QString ToQt(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }
} // namespace

CMainWindow::CMainWindow(CThemeHelperST* theme, QWidget* parent)
    : QDialog(parent), m_pTheme(theme), m_pCheck(new CXPStyleButtonST(this)), m_pUpgrade(new CXPStyleButtonST(this)),
      m_pList(new CMyListCtrl(this)), m_pSummary(new QLabel(this))
{
    InitIconResources();
    setObjectName(QStringLiteral("KIV_UPGRADE_DLG"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                   Qt::WindowCloseButtonHint);
    setSizeGripEnabled(false);
    // The desktop's font (and with it its scaling) throughout.
    m_pCheck->setObjectName(QStringLiteral("check"));
    m_pUpgrade->setObjectName(QStringLiteral("upgrade"));
    m_pList->setObjectName(QStringLiteral("list"));
    m_pSummary->setObjectName(QStringLiteral("summary"));
    m_pSummary->setWordWrap(true);
    m_pSummary->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_pSummary->hide();
    // "&Check" stays the dialog's default button: Return anywhere but on a focused
    // "&Upgrade" starts a check, never an upgrade.
    m_pCheck->setDefault(true);
    m_pUpgrade->setEnabled(false);
    m_pBridge = std::make_unique<CListBridge>(m_pList);
    m_pDlg = std::make_unique<CKivOneClickDlg>(this);
    setMinimumSize(CKivOneClickDlg::MinimumWidth(0), CKivOneClickDlg::MinimumHeight(0, 0));
    resize(std::max(DEFAULT_CLIENT_WIDTH, WidthForAllColumns()), DEFAULT_CLIENT_HEIGHT);
    connect(m_pCheck, &QPushButton::clicked, this, [this] { m_pDlg->OnCheck(); });
    connect(m_pUpgrade, &QPushButton::clicked, this, [this] { m_pDlg->OnUpgrade(); });
    SetCoreWarningHandler([this](const std::string& text) { ShowWarning(text); });
    m_pDlg->GetSession().Log().SetFailureHandler([this](const std::string& why) { ShowLogFailure(why); });
}

CMainWindow::~CMainWindow()
{
    BeginClosing();
    SetCoreWarningHandler({});
    m_pDlg->GetSession().Log().SetFailureHandler({});
    m_pDlg.reset(); // joins whatever worker still runs
    m_pBridge->Detach();
}

void CMainWindow::BeginClosing()
{
    {
        std::lock_guard<std::mutex> lock(m_WarningLock);
        m_bClosing = true;
    }
    m_WarningDone.notify_all();
}

void CMainWindow::InitDialog()
{
    m_Icon = QIcon(QStringLiteral(":/icons/%1.png").arg(IDI_PROGRAM));
    setWindowIcon(m_Icon);
    SaveRestoreWindowPlacement(this, false);
    // A time scale other than 1 is never in force unseen.
    setWindowTitle(ToQt(BuildTitle() + TimeScaleTitleSuffix()));
    InitButtons();
    InitColumns();
    m_pDlg->OnInitDialog();
    auto* help = new QShortcut(QKeySequence(Qt::Key_F1), this);
    help->setContext(Qt::ApplicationShortcut);
    connect(help, &QShortcut::activated, this, &CMainWindow::OnHelp);
}

std::string CMainWindow::ComposeTitle(const std::string& resourceTitle, const CModuleVersion* version)
{
    return ComposeWindowTitle(resourceTitle, version);
}

std::string CMainWindow::BuildTitle()
{
    // The module is the running program, named by its file's base name.
    return BuildWindowTitle(QFileInfo(QCoreApplication::applicationFilePath()).fileName().toStdString());
}

void CMainWindow::InitButtons()
{
    m_pCheck->setText(ToQt(LoadStringResource(IDS_CHECK)));
    m_pUpgrade->setText(ToQt(LoadStringResource(IDS_UPGRADE)));
    const std::pair<CXPStyleButtonST*, int> looks[] = {{m_pCheck, IDI_CHECK}, {m_pUpgrade, IDI_UPGRADE}};
    for (const auto& [button, icon] : looks) {
        button->SetThemeHelper(m_pTheme);
        button->SetIcon(icon, 0);
        button->SetColor(CButtonST::BTNST_COLOR_FG_IN, HOVER_CAPTION_COLOUR, true);
    }
}

void CMainWindow::InitColumns()
{
    m_pList->setUpdatesEnabled(false);
    std::array<int, IComponentList::COLUMN_COUNT> widths{};
    for (int i = 0; i < IComponentList::COLUMN_COUNT; ++i) {
        const KivColumnSpec& spec = CKivOneClickDlg::COLUMNS[i];
        const std::string ones(static_cast<size_t>(spec.widthFigure + 2), '1');
        widths[i] = m_pList->GetStringWidth(ones);
        m_pList->InsertColumn(i, LoadStringResource(spec.headerId), spec.centred ? Qt::AlignHCenter : Qt::AlignLeft,
                              widths[i]);
    }
    m_pList->setUpdatesEnabled(true);
    m_pBridge->ColumnWidthsChanged(widths);
}

int CMainWindow::WidthForAllColumns() const
{
    int total = 20 + 2 * m_pList->frameWidth() + m_pList->verticalScrollBar()->sizeHint().width();
    const auto textWidth = [this](const std::string& text) { return m_pList->GetStringWidth(text); };
    for (int i = 0; i < IComponentList::COLUMN_COUNT; ++i)
        total += CKivOneClickDlg::FirstSizeColumnWidth(i, textWidth, CMyListCtrl::CELL_PADDING);
    return total;
}

void CMainWindow::StretchLastColumn(std::array<int, 5>& widths)
{
    int rest = m_pList->width() - 2 * m_pList->frameWidth();
    if (m_pList->verticalScrollBar()->isVisible())
        rest -= m_pList->verticalScrollBar()->width();
    for (int i = 0; i + 1 < IComponentList::COLUMN_COUNT; ++i)
        rest -= widths[static_cast<size_t>(i)];
    int& last = widths[IComponentList::COL_STATUS];
    last = std::max(last, rest);
}

void CMainWindow::Layout()
{
    const int w = std::max(width(), minimumWidth());
    const int h = std::max(height(), minimumHeight());
    const int summaryHeight = m_pSummary->isHidden() ? 0 : m_pSummary->heightForWidth(w - 20);
    const KivLayout layout = CKivOneClickDlg::ComputeLayout(w, h, summaryHeight);
    auto place = [](QWidget* widget, const KivRect& r) {
        widget->setGeometry(r.x, r.y, std::max(r.width, 0), std::max(r.height, 0));
    };
    place(m_pCheck, layout.check);
    place(m_pUpgrade, layout.upgrade);
    place(m_pList, layout.list);
    place(m_pSummary, layout.summary);

    m_pList->setUpdatesEnabled(false);
    std::array<int, IComponentList::COLUMN_COUNT> widths{};
    for (int i = 0; i < m_pList->columnCount() && i < IComponentList::COLUMN_COUNT; ++i) {
        const std::string ones(static_cast<size_t>(CKivOneClickDlg::COLUMNS[i].widthFigure + 2), '1');
        widths[i] = CKivOneClickDlg::FitColumnWidth(m_pList->GetStringWidth(ones), m_pList->ContentWidth(i),
                                                    m_pList->ContentAndHeaderWidth(i));
    }
    // The status column takes the rest of the width: long statuses show whole.
    if (m_pList->columnCount() == IComponentList::COLUMN_COUNT)
        StretchLastColumn(widths);
    for (int i = 0; i < m_pList->columnCount() && i < IComponentList::COLUMN_COUNT; ++i)
        m_pList->SetColumnWidth(i, widths[i]);
    m_pList->setUpdatesEnabled(true);
    m_pBridge->ColumnWidthsChanged(widths);
    update();
    if (isVisible())
        repaint();
}

bool CMainWindow::OnViewThread() const { return QThread::currentThread() == thread(); }

CXPStyleButtonST* CMainWindow::Button(int controlId) const
{
    if (controlId == IDC_CHECK)
        return m_pCheck;
    if (controlId == IDC_UPGRADE)
        return m_pUpgrade;
    return nullptr;
}

void CMainWindow::RunHere(std::function<void()> task)
{
    // On the window's thread at once (a click disables the buttons before the next event
    // can press one again); from a worker, queued in the order made.
    if (OnViewThread())
        task();
    else
        RunOnViewThread(std::move(task));
}

void CMainWindow::EnableButton(int controlId, bool enable)
{
    RunHere([this, controlId, enable] {
        if (CXPStyleButtonST* button = Button(controlId))
            button->setEnabled(enable);
    });
}

void CMainWindow::FocusButton(int controlId)
{
    // A focused push button is the one Return presses while it has the focus; elsewhere
    // (the list) Return presses the default button, "&Check".
    RunHere([this, controlId] {
        if (CXPStyleButtonST* button = Button(controlId))
            button->setFocus(Qt::OtherFocusReason);
    });
}

IComponentList* CMainWindow::GetList() { return &m_pBridge->Rows(); }

void CMainWindow::ShowSummary(const std::string& text)
{
    RunHere([this, text] {
        QString lines = ToQt(text).trimmed();
        m_pSummary->setText(lines);
        m_pSummary->setVisible(!lines.isEmpty());
        Layout();
    });
}

int CMainWindow::ShowWarning(const std::string& text)
{
    if (m_bClosing || m_bNoMoreBoxes)
        return ID_OK;
    if (OnViewThread()) {
        QMessageBox box(QMessageBox::Warning, QStringLiteral("Warning"), ToQt(text), QMessageBox::Ok, this);
        box.exec();
        return ID_OK;
    }
    // A worker: show the box on the window's thread and wait until the user closed it,
    // or until the window starts closing.
    struct Pending {
        bool done = false;
    };
    auto pending = std::make_shared<Pending>();
    QMetaObject::invokeMethod(
        this,
        [this, text, pending] {
            if (!m_bClosing && !m_bNoMoreBoxes) {
                QMessageBox box(QMessageBox::Warning, QStringLiteral("Warning"), ToQt(text), QMessageBox::Ok, this);
                box.exec();
            }
            {
                std::lock_guard<std::mutex> lock(m_WarningLock);
                pending->done = true;
            }
            m_WarningDone.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock<std::mutex> lock(m_WarningLock);
    m_WarningDone.wait(lock, [&] { return pending->done || m_bClosing.load() || m_bNoMoreBoxes.load(); });
    return ID_OK;
}

bool CMainWindow::AskYesNo(const std::string& text)
{
    if (m_bNoMoreBoxes)
        return false;
    QMessageBox box(QMessageBox::Information, QStringLiteral("Warning"), ToQt(text), QMessageBox::Yes | QMessageBox::No,
                    this);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void CMainWindow::PostNotify(int code)
{
    QMetaObject::invokeMethod(
        this,
        [this, code] {
            if (!m_bClosing && m_pDlg)
                m_pDlg->OnWorkerNotify(code);
        },
        Qt::QueuedConnection);
}

void CMainWindow::RunOnViewThread(std::function<void()> task)
{
    QMetaObject::invokeMethod(
        this, [task = std::move(task)] { task(); }, Qt::QueuedConnection);
}

void CMainWindow::Relayout()
{
    if (OnViewThread())
        Layout();
    else
        RunOnViewThread([this] { Layout(); });
}

void CMainWindow::BringToForeground()
{
    RunOnViewThread([this] {
        raise();
        activateWindow();
    });
}

void CMainWindow::EndDialog(int result)
{
    // From here on a worker's warning returns at once instead of waiting for a box.
    BeginClosing();
    SaveRestoreWindowPlacement(this, true);
    done(result == ID_OK ? QDialog::Accepted : QDialog::Rejected);
}

void CMainWindow::reject()
{
    // Escape, the close box and Alt+F4 all ask the controller.
    if (m_pDlg)
        m_pDlg->OnCancel();
}

void CMainWindow::OnStopSignal(const QString& name)
{
    {
        std::lock_guard<std::mutex> lock(m_WarningLock);
        m_bNoMoreBoxes = true;
    }
    m_WarningDone.notify_all();
    // The boxes open now: nobody is left to answer them.
    for (QMessageBox* box : findChildren<QMessageBox*>())
        box->reject();
    if (m_pDlg)
        m_pDlg->OnStopSignal(name.toStdString());
}

void CMainWindow::RestoreIfMinimized()
{
    if (isMinimized())
        setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
}

void CMainWindow::ShowLogFailure(const std::string& why)
{
    // Any thread, once per run of the program. The box does not wait: a worker that logs
    // goes on with its step.
    RunOnViewThread([this, why] {
        if (m_bClosing)
            return;
        auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Warning"),
                                    ToQt("The download log cannot be written: " + why), QMessageBox::Ok, this);
        box->setObjectName(QStringLiteral("logWarning"));
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
    });
}

void CMainWindow::OnHelp()
{
    raise();
    activateWindow();
    CHelpFile::Open(this);
}

void CMainWindow::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    Layout();
}

void CMainWindow::paintEvent(QPaintEvent* event)
{
    if (!isMinimized() || m_Icon.isNull()) {
        QDialog::paintEvent(event);
        return;
    }
    // Minimised: the program icon centred in the client area.
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    const QSize size(32, 32);
    const QPoint at((width() - size.width() + 1) / 2, (height() - size.height() + 1) / 2);
    painter.drawPixmap(QRect(at, size), m_Icon.pixmap(size));
}

bool CMainWindow::event(QEvent* event)
{
    // A change of screen or resolution places the controls again.
    if (event->type() == QEvent::ScreenChangeInternal)
        Layout();
    return QDialog::event(event);
}
