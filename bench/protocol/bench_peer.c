/* The floors of the protocol benchmarks, as small as a peer can be:
 *   bench_peer hello NAME  connects to the abstract socket NAME, sends 8
 *                          bytes and waits for the host to close;
 *   bench_peer echo NAME   connects and echoes 16-byte messages until the
 *                          host closes. */
#include <stddef.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

static int connect_abstract(const char* name) {
  struct sockaddr_un addr;
  memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  size_t n = strlen(name);
  memcpy(addr.sun_path + 1, name, n);
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  socklen_t len = (socklen_t)(offsetof(struct sockaddr_un, sun_path) + 1 + n);
  return connect(fd, (struct sockaddr*)&addr, len) == 0 ? fd : -1;
}

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  int fd = connect_abstract(argv[2]);
  if (fd < 0) return 1;
  char buf[16] = {0};
  if (strcmp(argv[1], "hello") == 0) {
    if (send(fd, buf, 8, MSG_NOSIGNAL) != 8) return 1;
    (void)recv(fd, buf, 1, 0);
    return 0;
  }
  for (;;) {
    size_t got = 0;
    while (got < 16) {
      ssize_t r = recv(fd, buf + got, 16 - got, 0);
      if (r <= 0) return 0;
      got += (size_t)r;
    }
    if (send(fd, buf, 16, MSG_NOSIGNAL) != 16) return 1;
  }
}
