#include "gui/CHelpWindow.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>

static void InitHelpResources() { Q_INIT_RESOURCE(help); }

namespace {
constexpr int DEFAULT_WIDTH = 640;
constexpr int DEFAULT_HEIGHT = 480;
} // namespace

CHelpWindow::CHelpWindow(QWidget* parent) : QDialog(parent), m_pBrowser(new QTextBrowser(this))
{
    InitHelpResources();
    setObjectName(QStringLiteral("helpWindow"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                   Qt::WindowCloseButtonHint);
    m_pBrowser->setObjectName(QStringLiteral("helpBrowser"));
    // Links between the pages open here; links to the web go to the desktop's browser.
    m_pBrowser->setOpenLinks(true);
    m_pBrowser->setOpenExternalLinks(true);

    auto* back = new QPushButton(QStringLiteral("&Back"), this);
    auto* contents = new QPushButton(QStringLiteral("&Contents"), this);
    back->setObjectName(QStringLiteral("helpBack"));
    contents->setObjectName(QStringLiteral("helpContents"));
    back->setAutoDefault(false);
    contents->setAutoDefault(false);
    back->setEnabled(false);
    connect(back, &QPushButton::clicked, m_pBrowser, &QTextBrowser::backward);
    connect(contents, &QPushButton::clicked, this, &CHelpWindow::ShowIndex);
    connect(m_pBrowser, &QTextBrowser::backwardAvailable, back, &QPushButton::setEnabled);
    connect(m_pBrowser, &QTextBrowser::sourceChanged, this, [this] { setWindowTitle(m_pBrowser->documentTitle()); });

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(back);
    buttons->addWidget(contents);
    buttons->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
    layout->addWidget(m_pBrowser, 1);
    resize(DEFAULT_WIDTH, DEFAULT_HEIGHT);
    ShowIndex();
}

void CHelpWindow::ShowIndex() { m_pBrowser->setSource(QUrl(QString::fromLatin1(INDEX_PAGE))); }

CHelpWindow* CHelpWindow::ShowFor(QWidget* owner)
{
    auto* window = owner ? owner->findChild<CHelpWindow*>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
    if (!window) {
        window = new CHelpWindow(owner);
        if (!owner)
            window->setAttribute(Qt::WA_DeleteOnClose);
    }
    window->ShowIndex();
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}
