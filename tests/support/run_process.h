#pragma once
// Runs a program of this build and collects its exit status and output, for
// end-to-end tests of the command-line program.

#include <atomic>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace glimmora::testing {

struct ProcessResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};

// A path of the build machine as the program under test sees it: under Wine the
// root of the Linux file system is drive Z:.
inline std::string NativePath(const std::string& path) {
#ifdef _WIN32
  if (path.empty() || path[0] != '/') return path;
  std::string native = "Z:" + path;
  for (char& c : native) {
    if (c == '/') c = '\\';
  }
  return native;
#else
  return path;
#endif
}

// Text mode on Windows ends a program's lines in CR LF.
inline std::string WithoutCarriageReturns(std::string text) {
  std::erase(text, '\r');
  return text;
}

inline std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Output goes through files named after `scratch`, removed afterwards;
// standard input is the file `inputPath` when one is named.
inline ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                                const std::string& scratch, const std::string& inputPath = {}) {
  ProcessResult result;
  // Files of each run's own: under Wine the files of a run that has ended can
  // still be held open (Wine's own service processes, started while the
  // child ran), and a run that reused the names failed to create them with a
  // sharing violation and lost its output.
  static std::atomic<unsigned> runs{0};
  const std::string run = scratch + "." + std::to_string(++runs);
  const std::string outPath = run + ".out";
  const std::string errPath = run + ".err";
#ifdef _WIN32
  auto quote = [](const std::string& arg) {
    std::string quoted = "\"";
    for (char c : arg) {
      if (c == '"') quoted += '\\';
      quoted += c;
    }
    return quoted + "\"";
  };
  std::string commandLine = quote(program);
  for (const std::string& arg : args) commandLine += " " + quote(arg);
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  // Shared, so that a handle still held elsewhere does not keep the test
  // from reading the output and removing the file.
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  HANDLE out = CreateFileA(outPath.c_str(), GENERIC_WRITE, share, &inherit, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  HANDLE err = CreateFileA(errPath.c_str(), GENERIC_WRITE, share, &inherit, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  HANDLE in = inputPath.empty()
                  ? INVALID_HANDLE_VALUE
                  : CreateFileA(inputPath.c_str(), GENERIC_READ, FILE_SHARE_READ, &inherit,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in != INVALID_HANDLE_VALUE ? in : GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = out;
  startup.hStdError = err;
  PROCESS_INFORMATION process{};
  if (CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                     &startup, &process)) {
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    result.exitCode = static_cast<int>(code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  CloseHandle(out);
  CloseHandle(err);
  if (in != INVALID_HANDLE_VALUE) CloseHandle(in);
#else
  const pid_t child = fork();
  if (child == 0) {
    const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out < 0 || err < 0) _exit(127);
    if (!inputPath.empty()) {
      const int in = open(inputPath.c_str(), O_RDONLY);
      if (in < 0) _exit(127);
      dup2(in, 0);
    }
    dup2(out, 1);
    dup2(err, 2);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  if (child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status))
    result.exitCode = WEXITSTATUS(status);
#endif
  result.out = ReadWholeFile(outPath);
  result.err = ReadWholeFile(errPath);
  std::remove(outPath.c_str());
  std::remove(errPath.c_str());
  return result;
}

}  // namespace glimmora::testing
