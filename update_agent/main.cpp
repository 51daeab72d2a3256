// Entry point of the update agent. Until the agent server exists this reports
// which libraries the build produced.
#include <cstdio>

int main() {
  std::puts("Tarnwell Update Agent: foundation build.");
  std::puts("Built libraries: loam_platform loam_base loam_threads loam_net loam_netobjects "
            "loam_service loam_dns sshlib loam_terminal update_agent_lib");
  std::puts("The agent server is not built yet; nothing to run.");
  return 0;
}
