// A SQLite file-system layer for crash tests, installed as the default in a forked child: it
// counts every operation that changes a file (write, truncate, sync, delete) and kills the
// process with SIGKILL just before the one numbered kill_at, so a test can stop a catalogue
// write at each of its steps in turn, deterministically. It can also report on a pipe the
// first time the process asks for the write lock (a byte 'L'), so a test knows that a child is
// waiting on another writer.
#pragma once

#include <signal.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

namespace pelk::cli::crash_testing {

struct KillPointState {
  sqlite3_vfs* base = nullptr;
  int64_t operations = 0;  // file-changing operations so far
  int64_t kill_at = 0;     // 0: never
  int lock_pipe = -1;      // written once, when a write lock is first asked for
  bool lock_reported = false;
};

inline KillPointState& KillPoint() {
  static KillPointState state;
  return state;
}

inline void CountOperation() {
  KillPointState& s = KillPoint();
  if (++s.operations == s.kill_at) ::kill(::getpid(), SIGKILL);
}

struct KillPointFile {
  sqlite3_file base;
  sqlite3_file* real;  // the base layer's file, stored right after this struct
};

inline sqlite3_file* Real(sqlite3_file* f) { return reinterpret_cast<KillPointFile*>(f)->real; }

inline const sqlite3_io_methods* KillPointMethods() {
  static const sqlite3_io_methods methods = {
      1,  // no shared memory, no memory mapping: the catalogue uses a rollback journal
      [](sqlite3_file* f) { return Real(f)->pMethods->xClose(Real(f)); },
      [](sqlite3_file* f, void* buffer, int amount, sqlite3_int64 offset) {
        return Real(f)->pMethods->xRead(Real(f), buffer, amount, offset);
      },
      [](sqlite3_file* f, const void* buffer, int amount, sqlite3_int64 offset) {
        CountOperation();
        return Real(f)->pMethods->xWrite(Real(f), buffer, amount, offset);
      },
      [](sqlite3_file* f, sqlite3_int64 size) {
        CountOperation();
        return Real(f)->pMethods->xTruncate(Real(f), size);
      },
      [](sqlite3_file* f, int flags) {
        CountOperation();
        return Real(f)->pMethods->xSync(Real(f), flags);
      },
      [](sqlite3_file* f, sqlite3_int64* size) {
        return Real(f)->pMethods->xFileSize(Real(f), size);
      },
      [](sqlite3_file* f, int level) {
        KillPointState& s = KillPoint();
        if (level >= SQLITE_LOCK_RESERVED && s.lock_pipe >= 0 && !s.lock_reported) {
          s.lock_reported = true;
          const char byte = 'L';
          if (::write(s.lock_pipe, &byte, 1) != 1) ::_exit(90);
        }
        return Real(f)->pMethods->xLock(Real(f), level);
      },
      [](sqlite3_file* f, int level) { return Real(f)->pMethods->xUnlock(Real(f), level); },
      [](sqlite3_file* f, int* out) { return Real(f)->pMethods->xCheckReservedLock(Real(f), out); },
      [](sqlite3_file* f, int op, void* arg) {
        return Real(f)->pMethods->xFileControl(Real(f), op, arg);
      },
      [](sqlite3_file* f) { return Real(f)->pMethods->xSectorSize(Real(f)); },
      [](sqlite3_file* f) { return Real(f)->pMethods->xDeviceCharacteristics(Real(f)); },
  };
  return &methods;
}

// Installs the layer as the process's default. kill_at 0 only counts.
inline void InstallKillPointVfs(int64_t kill_at, int lock_pipe = -1) {
  static sqlite3_vfs vfs;
  KillPointState& s = KillPoint();
  s.kill_at = kill_at;
  s.lock_pipe = lock_pipe;
  if (s.base) return;
  s.base = sqlite3_vfs_find(nullptr);
  vfs = *s.base;
  vfs.iVersion = 2;
  vfs.zName = "kill-point";
  vfs.pNext = nullptr;
  vfs.szOsFile = static_cast<int>(sizeof(KillPointFile)) + s.base->szOsFile;
  vfs.xOpen = [](sqlite3_vfs*, sqlite3_filename name, sqlite3_file* f, int flags, int* out) {
    auto* file = reinterpret_cast<KillPointFile*>(f);
    file->real = reinterpret_cast<sqlite3_file*>(file + 1);
    std::memset(file->real, 0, static_cast<size_t>(KillPoint().base->szOsFile));
    const int rc = KillPoint().base->xOpen(KillPoint().base, name, file->real, flags, out);
    file->base.pMethods = rc == SQLITE_OK && file->real->pMethods ? KillPointMethods() : nullptr;
    return rc;
  };
  vfs.xDelete = [](sqlite3_vfs*, const char* name, int sync) {
    CountOperation();  // deleting the journal is what commits a transaction
    return KillPoint().base->xDelete(KillPoint().base, name, sync);
  };
  vfs.xAccess = [](sqlite3_vfs*, const char* name, int flags, int* out) {
    return KillPoint().base->xAccess(KillPoint().base, name, flags, out);
  };
  vfs.xFullPathname = [](sqlite3_vfs*, const char* name, int size, char* out) {
    return KillPoint().base->xFullPathname(KillPoint().base, name, size, out);
  };
  sqlite3_vfs_register(&vfs, 1);
}

}  // namespace pelk::cli::crash_testing
