#pragma once

#include <QDialog>

class QTextBrowser;

// The program's own help window: the user guide's HTML pages (compiled into the program
// from res/help) in a browser with working links, the index first. F1 shows it when the
// desktop cannot open the help file.
class CHelpWindow : public QDialog {
    Q_OBJECT
public:
    static constexpr const char* INDEX_PAGE = "qrc:/help/index.html";

    explicit CHelpWindow(QWidget* parent = nullptr);

    // Shows the index page.
    void ShowIndex();
    QTextBrowser* Browser() const { return m_pBrowser; }

    // The help window of `owner`, made when it has none yet, shown on the index page and
    // brought to the front.
    static CHelpWindow* ShowFor(QWidget* owner);

private:
    QTextBrowser* m_pBrowser;
};
