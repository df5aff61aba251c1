// Stopping the installed agent's programs before the package runs, and
// restarting its service afterwards. Both are best effort: the installation
// goes on whatever the agent answers, so nothing here reports a failure.
#pragma once

namespace sablewick {

// The agent's service, as registered with the Service Control Manager.
inline constexpr const wchar_t* kAgentServiceName = L"SablewickRemote";

// The tray program's image, stopped here and started again after the run.
inline constexpr const wchar_t* kTrayProgramName = L"SablewickTrayAgent.exe";

// Ends the remote-desktop and tray programs through the system folder's
// "taskkill.exe", giving each run of it up to 15 seconds.
void StopAgentProcesses();

// Stops the agent's service (waiting up to about 30 seconds for it to stop)
// and starts it again.
void RestartAgentService();

}  // namespace sablewick
