// SPDX-License-Identifier: Apache-2.0
// The installation run: what the OK button of the installer window does. It reads the two
// folder fields and the program folder from the window, does its work, speaks through the
// window's Messages(), disables cmdOK (SetOkEnabled), shows the hourglass (SetWaitCursor) and
// ends by calling the window's cmdQuitter_Click().
#ifndef APP_INSTALLATIONRUN_H_
#define APP_INSTALLATIONRUN_H_

namespace app {

class frmInstallFichiers;

// Runs the installation for `window`, on the user-interface thread, from start to end.
void RunInstallation(frmInstallFichiers& window);

}  // namespace app

#endif  // APP_INSTALLATIONRUN_H_
