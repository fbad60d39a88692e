#pragma once

#include <QDialog>
#include <QIcon>
#include <array>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include "app/IKivView.h"

class CKivOneClickDlg;
class CListBridge;
class QLabel;
class CModuleVersion;
class CMyListCtrl;
class CThemeHelperST;
class CXPStyleButtonST;

// The program's main window: the view of CKivOneClickDlg. Two buttons above the
// five-column component list, placed by the controller's layout numbers. Calls from the
// workers are queued to the window's thread; only ShowWarning waits (for the user), and
// it returns at once once the window is closing.
class CMainWindow : public QDialog, public IKivView {
    Q_OBJECT
public:
    // `theme` may be null: the buttons then use their unthemed drawing.
    explicit CMainWindow(CThemeHelperST* theme, QWidget* parent = nullptr);
    ~CMainWindow() override;

    // The controller, for set-up before InitDialog.
    CKivOneClickDlg& Controller() { return *m_pDlg; }

    // The start sequence: icon, saved placement, title, button captions and looks, list
    // columns, the controller's part, F1.
    void InitDialog();

    // Title from the resource title text and the program's version resource (null when it
    // could not be read): "<title> - <ProductVersion> - Press F1 for Help".
    static std::string ComposeTitle(const std::string& resourceTitle, const CModuleVersion* version);
    // The resource title (resource 150, UTF-16) followed by the version part.
    static std::string BuildTitle();

    CXPStyleButtonST* CheckButton() const { return m_pCheck; }
    CXPStyleButtonST* UpgradeButton() const { return m_pUpgrade; }
    CMyListCtrl* List() const { return m_pList; }
    // The lines under the list: the router a check found, the components already up to date.
    QLabel* Summary() const { return m_pSummary; }

    // Places the controls for the current client size and fits the columns.
    void Layout();

    // IKivView
    void EnableButton(int controlId, bool enable) override;
    void FocusButton(int controlId) override;
    IComponentList* GetList() override;
    int ShowWarning(const std::string& text) override;
    void ShowSummary(const std::string& text) override;
    bool AskYesNo(const std::string& text) override;
    void PostNotify(int code) override;
    void RunOnViewThread(std::function<void()> task) override;
    void Relayout() override;
    void BringToForeground() override;
    void EndDialog(int result) override;

public slots:
    // A later copy of the program asked for the window: restore it when minimised.
    void RestoreIfMinimized();
    void reject() override;
    // A stop signal reached the program (`name`, e.g. "SIGTERM"): the boxes open now are
    // closed, no new one is shown, and the controller's stop path runs.
    void OnStopSignal(const QString& name);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;

private:
    bool OnViewThread() const;
    void RunHere(std::function<void()> task);
    CXPStyleButtonST* Button(int controlId) const;
    void InitButtons();
    void InitColumns();
    // Widths the columns need for what they may show (type names, versions, the engine's
    // longest status), so that the default size shows every status whole.
    int WidthForAllColumns() const;
    // Gives the last column what the viewport leaves, never less than `fitted`.
    void StretchLastColumn(std::array<int, 5>& widths);
    void OnHelp();
    // One warning, the first time a line of the download log cannot be written.
    void ShowLogFailure(const std::string& why);
    void BeginClosing();

    CThemeHelperST* m_pTheme;
    CXPStyleButtonST* m_pCheck;
    CXPStyleButtonST* m_pUpgrade;
    CMyListCtrl* m_pList;
    QLabel* m_pSummary;
    std::unique_ptr<CListBridge> m_pBridge;
    std::unique_ptr<CKivOneClickDlg> m_pDlg;
    QIcon m_Icon;
    std::atomic<bool> m_bClosing{false};
    std::atomic<bool> m_bNoMoreBoxes{false}; // a stop signal came: nobody answers a box
    std::mutex m_WarningLock;
    std::condition_variable m_WarningDone;
};
