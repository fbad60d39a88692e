#include "win/ControllerLog.h"

#include "app/CKivOneClickDlg.h"
#include "engine/CUpgradeEngine.h"

CDownloadLog& ControllerLog(CKivOneClickDlg& controller) { return controller.GetEngine().m_Log; }
