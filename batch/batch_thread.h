#pragma once
// What the worker thread starts for itself before it examines workstations:
// on Windows COM and the socket library the probe resolves names with;
// elsewhere nothing.

#include <string>

namespace glimmora {

// 0 when the thread is ready; otherwise the error code, with the text to report.
int StartWorkerThreadServices(std::string* failureText);
// Releases what the start took; called whatever the start gave.
void EndWorkerThreadServices();

}  // namespace glimmora
