#include "win/ControllerLog.h"

#include "app/CKivOneClickDlg.h"
#include "engine/CRouterSession.h"

CDownloadLog& ControllerLog(CKivOneClickDlg& controller) { return controller.GetSession().Log(); }
