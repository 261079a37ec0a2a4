#include <windows.h>

#include <string>

#include "disk/read_ahead.h"
#include "disk/windows_file.h"
#include "disk/windows_handle.h"
#include "disk/windows_path.h"

namespace {

bool is_dot_or_dot_dot(std::wstring_view name) {
  return name == L"." || name == L"..";
}

// Opened as what the name is, so that a folder swapped for a link or junction leads nowhere:
// such a folder is not followed either.
void list_below(std::wstring& path, int levels, const std::atomic<bool>& stop) {
  OwnedHandle folder(CreateFileW(
      path.c_str(), FILE_LIST_DIRECTORY | SYNCHRONIZE, kShareAll, nullptr, OPEN_EXISTING,
      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!folder) {
    return;
  }
  alignas(8) char buffer[8192];
  FILE_INFO_BY_HANDLE_CLASS kind = FileIdBothDirectoryRestartInfo;
  for (; !stop && GetFileInformationByHandleEx(folder.get(), kind, buffer, sizeof buffer);
       kind = FileIdBothDirectoryInfo) {
    for (const char* at = buffer; levels > 1 && !stop;) {
      const auto* found = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(at);
      const std::wstring_view name(found->FileName, found->FileNameLength / sizeof(WCHAR));
      const DWORD attributes = found->FileAttributes;
      if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
          (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 && !is_dot_or_dot_dot(name)) {
        const std::size_t size = path.size();
        path.append(L"\\").append(name);
        list_below(path, levels - 1, stop);
        path.resize(size);
      }
      if (found->NextEntryOffset == 0) {
        break;
      }
      at += found->NextEntryOffset;
    }
  }
}

}  // namespace

// Windows opens nothing relative to a folder: the one offered is reached by its path.
void list_folders_below(const Folder& folder, std::string_view name, int levels,
                        const std::atomic<bool>& stop) {
  std::wstring path = extended_path(folder.path_of(name));
  list_below(path, levels, stop);
}

std::intptr_t start_small_thread(const ThreadStart& start) {
  const HANDLE thread = CreateThread(
      nullptr, 512 * 1024,
      [](void* given) -> DWORD {
        const auto* what = static_cast<const ThreadStart*>(given);
        what->run(what->context);
        return 0;
      },
      const_cast<ThreadStart*>(&start), STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  if (thread == nullptr) {
    return -1;
  }
  // Only the time no other thread wants: where the folders are cached, the walk reads them as
  // fast alone. (Background mode would lower its disk priority too, which is what it is for.)
  (void)SetThreadPriority(thread, THREAD_PRIORITY_IDLE);  // refused, it only competes more
  return reinterpret_cast<std::intptr_t>(thread);
}

void wait_for_thread(std::intptr_t thread) {
  const HANDLE handle = reinterpret_cast<HANDLE>(thread);
  WaitForSingleObject(handle, INFINITE);
  (void)CloseHandle(handle);  // the thread has ended
}

// Windows counts a process's reads, cached or not, and no thread's.
std::optional<std::uint64_t> blocks_read_by_this_thread() {
  return std::nullopt;
}
