/* The floor of a start: a C program that writes its arguments as zarvo and
   echo do ("hello\n" for "hello") in one write call, and nothing else.
   bench/run builds it twice, dynamic and hardened as the shipped zarvo is,
   and fully static, and counts its start against zarvo's. */
#include <string.h>
#include <sys/uio.h>

enum { MAX_PIECES = 64 };

int main(int argc, char** argv) {
  struct iovec pieces[MAX_PIECES];
  int count = 0;
  for (int i = 1; i < argc && count + 2 < MAX_PIECES; ++i) {
    if (i > 1) pieces[count++] = (struct iovec){" ", 1};
    pieces[count++] = (struct iovec){argv[i], strlen(argv[i])};
  }
  pieces[count++] = (struct iovec){"\n", 1};
  return writev(1, pieces, count) < 0;
}
