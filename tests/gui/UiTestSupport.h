#pragma once

#include <QString>
#include <functional>
#include <string>

class QMessageBox;

// One offscreen QApplication for the whole test program, with the settings store, the
// runtime directory and the temporary directory moved into a private directory.
void EnsureApplication();
QString TestDirectory();

// Processes events until `condition` holds or `timeoutMs` passes.
bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = 10000);

// Answers the next modal message box: records what it showed and presses `button`.
struct BoxWatcher {
    QString text;
    int icon = -1;
    int defaultButton = -1;
    int seen = 0;
    // Arms a poll that answers every modal box with `button` (a QMessageBox::StandardButton).
    void Arm(int button);
    void Disarm();
    ~BoxWatcher();

private:
    class QTimer* m_pTimer = nullptr;
};
