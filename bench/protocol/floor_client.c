/* The start-up floor: a minimal program that connects to an abstract socket
 * named by argument 1 and sends 8 bytes. */
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
  char hello[8] = {0};
  if (send(fd, hello, 8, MSG_NOSIGNAL) != 8) return 1;
  char b;
  (void)recv(fd, &b, 1, 0); /* wait for the host to close */
  return 0;
}
