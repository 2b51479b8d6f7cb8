#include "plugin_protocol/plugin_main.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "plugin_protocol/framing.h"
#include "plugin_protocol/manifest.h"
#include "plugin_protocol/serve.h"
#include "utf8.h"

namespace brindle {
namespace {

// Closed standard descriptors are reopened on /dev/null so that no later
// open() lands on 0-2 by accident; SIGPIPE is ignored so a write to a socket
// the host closed fails with an error instead of killing the process.
void prepare_process() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
      const int opened = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
      if (opened >= 0 && opened != fd) {
        ::dup2(opened, fd);
        ::close(opened);
      }
    }
  }
  ::signal(SIGPIPE, SIG_IGN);
}

[[noreturn]] void fatal(const std::source_location& where, const std::string& message) {
  std::fprintf(stderr, "plug-in stopped at %s:%u:%u:\n%s\n", where.file_name(), where.line(), where.column(),
               message.c_str());
  std::fflush(stderr);
  std::exit(101);
}

}  // namespace

int plugin_main(int argc, char** argv, const PluginIdentity& identity,
                const std::function<std::unique_ptr<Viewer>()>& make_viewer, std::source_location where) {
  prepare_process();
  for (int i = 0; i < argc && i < 2; ++i) {
    if (!is_valid_utf8(argv[i])) fatal(where, "argument " + std::to_string(i) + " is not valid UTF-8");
  }
  if (argc < 2) write_manifests(identity.manifest_template, identity.version);

  const pid_t parent = ::getppid();
  auto connection = connect_to_host(argv[1]);
  if (!connection) fatal(where, "connect to host socket: " + connection.error());
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  // The host may have died before the request above took effect.
  if (::getppid() != parent) ::raise(SIGKILL);

  std::unique_ptr<Viewer> viewer = make_viewer();
  auto served = serve(connection->get(), *viewer, identity.plugin_id);
  connection->reset();
  if (!served) fatal(where, "serve: " + served.error());
  return 0;
}

}  // namespace brindle
