// The reads, writes and length changes at an offset of emscripten 3.1.6
// take only the low 32 bits of the offset (signed), so a movie past 2 GiB
// would be read and written at the wrong places. These replace them with
// the whole 64-bit offset (exact up to 2^53, as the file systems' own
// positions are), as its lseek already does.
mergeInto(LibraryManager.library, {
  $smxOffset: function(low, high) {
    var offset = high * 4294967296 + (low >>> 0);
    if (offset < 0 || offset >= 9007199254740992) throw new FS.ErrnoError(61);  // EOVERFLOW
    return offset;
  },
  // `transfer` (SYSCALLS.doReadv or doWritev) at the whole offset: 0 and the
  // bytes moved at `pnum`, or the error's number.
  $smxTransferAt__deps: ['$smxOffset', '$SYSCALLS'],
  $smxTransferAt: function(transfer, fd, iov, iovcnt, offset_low, offset_high, pnum) {
    try {
      var stream = SYSCALLS.getStreamFromFD(fd);
      HEAP32[pnum >> 2] = transfer(stream, iov, iovcnt, smxOffset(offset_low, offset_high));
      return 0;
    } catch (e) {
      if (typeof FS == 'undefined' || !(e instanceof FS.ErrnoError)) throw e;
      return e.errno;
    }
  },
  fd_pread__deps: ['$smxTransferAt'],
  fd_pread: function(fd, iov, iovcnt, offset_low, offset_high, pnum) {
    return smxTransferAt(SYSCALLS.doReadv, fd, iov, iovcnt, offset_low, offset_high, pnum);
  },
  fd_pwrite__deps: ['$smxTransferAt'],
  fd_pwrite: function(fd, iov, iovcnt, offset_low, offset_high, pnum) {
    return smxTransferAt(SYSCALLS.doWritev, fd, iov, iovcnt, offset_low, offset_high, pnum);
  },
  __syscall_ftruncate64__deps: ['$smxOffset'],
  __syscall_ftruncate64: function(fd, low, high) {
    try {
      FS.ftruncate(fd, smxOffset(low, high));
      return 0;
    } catch (e) {
      if (typeof FS == 'undefined' || !(e instanceof FS.ErrnoError)) throw e;
      return -e.errno;
    }
  },
});
