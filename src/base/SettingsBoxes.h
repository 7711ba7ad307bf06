#pragma once
// The states of the settings boxes of the monitor page. The window's
// check boxes show these; the run engine and the other pages read them at
// the moment they act. The initial values are the window's design states.
namespace ristova {

struct SettingsBoxes {
    bool chk4Level = false;
    bool chkRun = true;
    bool chkStartON = false;
    bool chkAutoDelete = true;
    bool chkManOperate = true;
    bool chkAutoStart = true;
    // "启动时恢复计划状态"; off keeps a start acting on future actions only.
    bool chkRestoreOnStart = false;
};

}  // namespace ristova
