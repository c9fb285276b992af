// An emscripten file system whose files are the origin private file
// system's synchronous access handles: the core writes its output with plain
// POSIX calls (open, pwrite, lseek, ftruncate, fstat) and the bytes land in
// the browser's private storage, never in memory as a whole.
//
// Mount it with the files it holds, opened beforehand (opening is
// asynchronous, the core's calls are not):
//   FS.mount(createOpfsFs(FS), {files: {'clip.mov': accessHandle}}, '/out');
// The folder holds exactly those files: no file can be made, renamed or
// removed beside them (unlink empties the file and forgets it; its entry in
// private storage is the worker's to remove).

/* exported createOpfsFs */
function createOpfsFs(FS) {
  // The core's errno values (emscripten numbers them as WASI does).
  const EPERM = 63, ENOENT = 44, EIO = 29, EINVAL = 28, EEXIST = 20, ENOSPC = 51;
  const DIR_MODE = 0o040000 | 0o777;
  const FILE_MODE = 0o100000 | 0o666;

  function fail(code) { return new FS.ErrnoError(code); }

  function sizeOf(node) { return node.handle.getSize(); }

  // A failure of the storage (full, or gone) reaches the core as an errno,
  // never as an exception that would stop the module.
  function storage(call) {
    try {
      return call();
    } catch (error) {
      if (error instanceof FS.ErrnoError) throw error;
      throw fail(error && error.name === 'QuotaExceededError' ? ENOSPC : EIO);
    }
  }

  const OPFSFS = {
    mount(mount) {
      const root = OPFSFS.createNode(null, '/', DIR_MODE, null);
      for (const [name, handle] of Object.entries(mount.opts.files || {})) {
        if (name.includes('/') || name === '.' || name === '..') throw fail(EINVAL);
        OPFSFS.createNode(root, name, FILE_MODE, handle);
      }
      return root;
    },
    createNode(parent, name, mode, handle) {
      const node = FS.createNode(parent, name, mode, 0);
      node.node_ops = OPFSFS.node_ops;
      node.stream_ops = OPFSFS.stream_ops;
      node.timestamp = Date.now();
      if (handle) {
        node.handle = handle;
      } else {
        node.contents = {};
      }
      if (parent) parent.contents[name] = node;
      return node;
    },
    node_ops: {
      getattr(node) {
        const size = node.handle ? storage(() => sizeOf(node)) : 4096;
        const time = new Date(node.timestamp);
        return {
          dev: 2, ino: node.id, mode: node.mode, nlink: 1, uid: 0, gid: 0, rdev: 0,
          size, atime: time, mtime: time, ctime: time, blksize: 4096,
          blocks: Math.ceil(size / 512),
        };
      },
      setattr(node, attr) {
        if (attr.mode !== undefined) node.mode = attr.mode;
        if (attr.timestamp !== undefined) node.timestamp = attr.timestamp;
        if (attr.size !== undefined) {
          if (!node.handle) throw fail(EPERM);
          storage(() => node.handle.truncate(attr.size));
          node.timestamp = Date.now();
        }
      },
      lookup(parent, name) {
        const node = parent.contents[name];
        if (!node) throw fail(ENOENT);
        return node;
      },
      mknod(parent, name) {
        throw fail(parent.contents[name] ? EEXIST : EPERM);
      },
      rename() { throw fail(EPERM); },
      unlink(parent, name) {
        const node = parent.contents[name];
        if (!node || !node.handle) throw fail(ENOENT);
        storage(() => node.handle.truncate(0));
        delete parent.contents[name];
      },
      rmdir() { throw fail(EPERM); },
      readdir(node) { return ['.', '..', ...Object.keys(node.contents)]; },
      symlink() { throw fail(EPERM); },
      readlink() { throw fail(EINVAL); },
    },
    stream_ops: {
      open(stream) {
        if (!stream.node.handle && FS.isFile(stream.node.mode)) throw fail(EIO);
      },
      close(stream) {
        if (stream.node.handle) storage(() => stream.node.handle.flush());
      },
      fsync(stream) {
        if (stream.node.handle) storage(() => stream.node.handle.flush());
        return 0;
      },
      read(stream, buffer, offset, length, position) {
        if (!stream.node.handle) throw fail(EPERM);
        return storage(
            () => stream.node.handle.read(buffer.subarray(offset, offset + length), {at: position}));
      },
      write(stream, buffer, offset, length, position) {
        if (!stream.node.handle) throw fail(EPERM);
        const written = storage(
            () => stream.node.handle.write(buffer.subarray(offset, offset + length), {at: position}));
        if (written !== length) throw fail(EIO);
        stream.node.timestamp = Date.now();
        return written;
      },
      llseek(stream, offset, whence) {
        let position = offset;
        if (whence === 1) position += stream.position;         // SEEK_CUR
        else if (whence === 2 && stream.node.handle) position += sizeOf(stream.node);  // SEEK_END
        if (position < 0) throw fail(EINVAL);
        return position;
      },
    },
  };
  return OPFSFS;
}

if (typeof module !== 'undefined') module.exports = {createOpfsFs};
