/* Reference figures for the tcping benchmark.
 *
 *   connect_loop listen             listens on a free loopback port, prints
 *                                   it, and accepts and closes connections
 *                                   until killed
 *   connect_loop connect PORT N     times N plain blocking connect() calls to
 *                                   127.0.0.1:PORT on CLOCK_MONOTONIC and
 *                                   prints their mean in milliseconds
 */
#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

static double now_ms(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec * 1e3 + (double)t.tv_nsec / 1e6;
}

static struct sockaddr_in loopback(int port) {
  struct sockaddr_in address;
  memset(&address, 0, sizeof address);
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons((unsigned short)port);
  return address;
}

static int serve(void) {
  struct sockaddr_in address = loopback(0);
  socklen_t length = sizeof address;
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0 || bind(fd, (struct sockaddr*)&address, length) != 0 || listen(fd, 1024) != 0 ||
      getsockname(fd, (struct sockaddr*)&address, &length) != 0) {
    perror("listen");
    return 1;
  }
  printf("%d\n", ntohs(address.sin_port));
  fflush(stdout);
  for (;;) {
    int client = accept(fd, NULL, NULL);
    if (client >= 0) close(client);
  }
}

static int measure(int port, int count) {
  struct sockaddr_in address = loopback(port);
  double total = 0;
  for (int i = 0; i < count; ++i) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) {
      perror("socket");
      return 1;
    }
    double start = now_ms();
    int rc = connect(fd, (struct sockaddr*)&address, sizeof address);
    total += now_ms() - start;
    close(fd);
    if (rc != 0) {
      perror("connect");
      return 1;
    }
  }
  printf("%.6f\n", total / count);
  return 0;
}

int main(int argc, char** argv) {
  if (argc == 2 && strcmp(argv[1], "listen") == 0) return serve();
  if (argc == 4 && strcmp(argv[1], "connect") == 0) return measure(atoi(argv[2]), atoi(argv[3]));
  fprintf(stderr, "usage: connect_loop listen | connect_loop connect PORT N\n");
  return 2;
}
