#include "UiTestSupport.h"

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <sys/stat.h>
#include <cstdlib>

#include "tests/support/TempDir.h"

namespace {
kivtest::TempDir* g_dir = nullptr;
QApplication* g_app = nullptr;
} // namespace

void EnsureApplication()
{
    if (g_app)
        return;
    static kivtest::TempDir s_Dir("kiv-ui");
    g_dir = &s_Dir;
    const QString base = QString::fromStdString(s_Dir.Path());
    for (const char* sub : {"/config", "/run", "/tmp"})
        QDir().mkpath(base + QLatin1String(sub));
    ::chmod((base + "/run").toLocal8Bit().constData(), 0700);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::setenv("XDG_CONFIG_HOME", (base + "/config").toLocal8Bit().constData(), 1);
    ::setenv("XDG_RUNTIME_DIR", (base + "/run").toLocal8Bit().constData(), 1);
    ::setenv("TMPDIR", (base + "/tmp").toLocal8Bit().constData(), 1);
    static int argc = 1;
    static char name[] = "kivupgrade-test";
    static char* argv[] = {name, nullptr};
    g_app = new QApplication(argc, argv);
    QApplication::setApplicationName(QStringLiteral("kivupgrade-test"));
    QApplication::setOrganizationName(QStringLiteral("Varoni"));
}

QString TestDirectory()
{
    EnsureApplication();
    return QString::fromStdString(g_dir->Path());
}

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs) { return QTest::qWaitFor(condition, timeoutMs); }

void BoxWatcher::Arm(int button)
{
    Disarm();
    m_pTimer = new QTimer();
    QObject::connect(m_pTimer, &QTimer::timeout, [this, button] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        text = box->text();
        icon = box->icon();
        defaultButton = box->defaultButton() ? box->standardButton(box->defaultButton()) : -1;
        ++seen;
        if (QAbstractButton* b = box->button(static_cast<QMessageBox::StandardButton>(button)))
            b->click();
    });
    m_pTimer->start(20);
}

void BoxWatcher::Disarm()
{
    delete m_pTimer;
    m_pTimer = nullptr;
}

BoxWatcher::~BoxWatcher() { Disarm(); }
