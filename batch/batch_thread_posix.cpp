// Sockets need no start off Windows, and there is no COM.
#include "batch/batch_thread.h"

namespace glimmora {

int StartWorkerThreadServices(std::string* /*failureText*/) {
  return 0;
}

void EndWorkerThreadServices() {}

}  // namespace glimmora
