#include "platform/thread_name.h"

#include <pthread.h>

#include <cstring>

namespace quindelo::platform {

void NameThisThread(const char* name) {
  char cut[16] = {};
  std::strncpy(cut, name, sizeof cut - 1);
  pthread_setname_np(pthread_self(), cut);
}

}  // namespace quindelo::platform
