/* The round-trip floor: connects to an abstract socket named by argument 1
 * and echoes 16-byte messages until the peer closes. */
#include <stddef.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  struct sockaddr_un addr;
  memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  size_t n = strlen(argv[1]);
  memcpy(addr.sun_path + 1, argv[1], n);
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (connect(fd, (struct sockaddr*)&addr, (socklen_t)(offsetof(struct sockaddr_un, sun_path) + 1 + n)) != 0) return 1;
  char buf[16];
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
