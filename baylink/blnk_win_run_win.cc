// The command runner on CreateProcessW; see blnk_win_run.h.
#include <windows.h>

#include <climits>
#include <memory>

#include "baylink/blnk_win_net.h"
#include "baylink/blnk_win_run.h"

namespace blnkwin {

namespace {

// Closes a handle when it goes out of scope.
struct HandleCloser {
  void operator()(HANDLE h) const {
    if (h != nullptr && h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
};
using Handle = std::unique_ptr<void, HandleCloser>;

// Reads what the pipe holds without waiting; false once the pipe is closed and empty.
bool drainPipe(HANDLE pipe, std::string* output) {
  for (;;) {
    DWORD available = 0;
    if (PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) == FALSE) return false;
    if (available == 0) return true;
    char buffer[4096];
    DWORD got = 0;
    if (ReadFile(pipe, buffer, available < sizeof buffer ? available : sizeof buffer, &got, nullptr) ==
            FALSE ||
        got == 0) {
      return false;
    }
    if (output != nullptr && output->size() < kCommandOutputMax) {
      output->append(buffer,
                     got < kCommandOutputMax - output->size() ? got : kCommandOutputMax - output->size());
    }
  }
}

}  // namespace

std::wstring widen(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return wide;
}

std::string narrow(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
  std::string out(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), length, nullptr,
                      nullptr);
  return out;
}

std::wstring programPath(const std::string& name) {
  if (name.find_first_of("\\/:") != std::string::npos) return widen(name);
  wchar_t folder[MAX_PATH + 1] = {};
  const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length > MAX_PATH) return std::wstring();
  std::wstring path = std::wstring(folder, length) + L"\\" + widen(name);
  if (name.find('.') == std::string::npos) path += L".exe";
  return path;
}

int runProgram(const std::vector<std::string>& argv, std::string* output, unsigned timeoutMs) {
  if (!passableArguments(argv)) return -1;
  const std::wstring program = programPath(argv[0]);
  if (program.empty()) return -1;
  std::wstring line = widen(commandLine(argv));

  SECURITY_ATTRIBUTES inherit{static_cast<DWORD>(sizeof(SECURITY_ATTRIBUTES)), nullptr, TRUE};
  Handle nul(CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                         OPEN_EXISTING, 0, nullptr));
  if (nul.get() == INVALID_HANDLE_VALUE) return -1;
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  Handle reader, writer;
  if (output != nullptr) {
    if (CreatePipe(&readEnd, &writeEnd, &inherit, 0) == FALSE) return -1;
    reader.reset(readEnd);
    writer.reset(writeEnd);
    // Only the child's end is inherited.
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  }

  // Exactly these handles reach the child, whatever else of the process is inheritable.
  HANDLE inherited[2] = {nul.get(), writeEnd};
  const DWORD inheritedCount = output != nullptr ? 2 : 1;
  SIZE_T attributeBytes = 0;
  InitializeProcThreadAttributeList(nullptr, 1, 0, &attributeBytes);
  std::unique_ptr<char[]> attributeBuffer(new char[attributeBytes]);
  auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributeBuffer.get());
  if (InitializeProcThreadAttributeList(attributes, 1, 0, &attributeBytes) == FALSE) return -1;
  struct AttributesCleanup {
    LPPROC_THREAD_ATTRIBUTE_LIST list;
    ~AttributesCleanup() { DeleteProcThreadAttributeList(list); }
  } cleanup{attributes};
  if (UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                                inheritedCount * sizeof(HANDLE), nullptr, nullptr) == FALSE) {
    return -1;
  }

  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof startup;
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  startup.StartupInfo.hStdInput = nul.get();
  startup.StartupInfo.hStdOutput = output != nullptr ? writeEnd : nul.get();
  startup.StartupInfo.hStdError = nul.get();
  PROCESS_INFORMATION process{};
  const BOOL started = CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE,
                                      CREATE_NO_WINDOW | EXTENDED_STARTUPINFO_PRESENT, nullptr, nullptr,
                                      &startup.StartupInfo, &process);
  // The parent's copy of the write end must go, or the pipe would never report its end.
  writer.reset();
  if (started == FALSE) return -1;
  Handle processHandle(process.hProcess);
  CloseHandle(process.hThread);

  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  bool pipeOpen = output != nullptr;
  for (;;) {
    if (pipeOpen) pipeOpen = drainPipe(readEnd, output);
    const DWORD waited = WaitForSingleObject(process.hProcess, pipeOpen ? 10 : 100);
    if (waited == WAIT_OBJECT_0) break;
    if (waited == WAIT_FAILED || GetTickCount64() >= deadline) {
      TerminateProcess(process.hProcess, 1);
      WaitForSingleObject(process.hProcess, 5000);
      return -1;
    }
  }
  // What the program wrote just before it ended is still in the pipe.
  if (pipeOpen) drainPipe(readEnd, output);
  DWORD code = 0;
  if (GetExitCodeProcess(process.hProcess, &code) == FALSE || code > static_cast<DWORD>(INT_MAX)) return -1;
  return static_cast<int>(code);
}

}  // namespace blnkwin
