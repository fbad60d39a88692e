#pragma once

class CDownloadLog;
class CKivOneClickDlg;

// The controller's download log, for the window. A file of its own, without windows.h: the
// engine's header brings the platform clock, whose names (GetTickCount, Sleep, INFINITE)
// Windows' headers take as well.
CDownloadLog& ControllerLog(CKivOneClickDlg& controller);
