// The worker that runs the core (C++ compiled to WebAssembly). It does one
// job at a time, as the page asks:
//   {id, op: 'check', file}                      -> the check's JSON
//   {id, op: 'name', name}                       -> {name}: the output's name
//   {id, op: 'convert', file, options, entry, outName}
//                                                -> {ok, report} or {ok: false, ...}
// and answers {id, result} or {id, error}; a conversion also sends
// {id, progress: {phase, percent}} on the way. The input File is mounted
// with WORKERFS (read in slices as the core asks, never whole); the output
// is the private storage's file `entry`, seen by the core as /out/outName.
// A conversion is cancelled by ending this worker; the page then removes
// the entry.
/* global createSpatialmuxCore, createOpfsFs */
'use strict';

importScripts('core/spatialmux-core.js', 'opfs-fs.js');

let core = null;
let current = null;  // the id of the job whose progress the core reports

async function Core() {
  if (!core) {
    core = await createSpatialmuxCore({
      locateFile: (path) => 'core/' + path,
      print: () => {},
      printErr: (line) => console.debug('core:', line),
      smxProgress: (phase, percent) => {
        if (current !== null) postMessage({id: current, progress: {phase, percent}});
      },
      smxCancelled: () => 0,
    });
    core.FS.mkdir('/in');
    core.FS.mkdir('/out');
  }
  return core;
}

// Calls one of the core's exports; each returns a JSON text it allocated.
function Call(module, name, ...texts) {
  const pointer = module.ccall(name, 'number', texts.map(() => 'string'), texts);
  if (!pointer) throw new Error(name + ' returned nothing');
  try {
    return JSON.parse(module.UTF8ToString(pointer));
  } finally {
    module.ccall('smx_free', null, ['number'], [pointer]);
  }
}

// A name the file system can hold: the movie's own, without slashes.
function SafeName(name) {
  const safe = String(name || 'movie').replace(/[/\0]/g, '_');
  return safe === '.' || safe === '..' ? 'movie' : safe;
}

// Runs `use(name)` with the File mounted at /in/NAME and /in the current
// folder: the core names the movie as it was given, and the desktop's
// reports name a dropped movie by its own name.
function WithInput(module, file, use) {
  const name = SafeName(file.name);
  module.FS.mount(module.FS.filesystems.WORKERFS, {blobs: [{name, data: file}]}, '/in');
  try {
    module.FS.chdir('/in');
    return use(name);
  } finally {
    module.FS.chdir('/');
    module.FS.unmount('/in');
  }
}

async function Convert(module, message) {
  const root = await navigator.storage.getDirectory();
  const entry = await root.getFileHandle(message.entry, {create: true});
  const handle = await entry.createSyncAccessHandle();
  let result;
  try {
    handle.truncate(0);
    const outName = SafeName(message.outName);
    module.FS.mount(createOpfsFs(module.FS), {files: {[outName]: handle}}, '/out');
    try {
      result = WithInput(module, message.file, (input) => Call(
          module, 'smx_convert', input, '/out/' + outName, JSON.stringify(message.options || {})));
    } finally {
      module.FS.unmount('/out');
    }
    handle.flush();
  } finally {
    handle.close();
  }
  if (!result.ok) await root.removeEntry(message.entry).catch(() => {});
  return result;
}

async function Run(message) {
  const module = await Core();
  switch (message.op) {
    case 'check':
      return WithInput(module, message.file, (input) => Call(module, 'smx_check', input));
    case 'name':
      return Call(module, 'smx_output_name', SafeName(message.name));
    case 'convert':
      return Convert(module, message);
    default:
      throw new Error('unknown request ' + message.op);
  }
}

// One job at a time, in the order asked.
let queue = Promise.resolve();
onmessage = (event) => {
  const message = event.data;
  queue = queue.then(async () => {
    current = message.id;
    try {
      postMessage({id: message.id, result: await Run(message)});
    } catch (error) {
      // The core answers refusals in JSON; what is thrown (an abort, memory
      // exhausted) leaves it unusable, so the next job loads it anew.
      core = null;
      postMessage({id: message.id, error: String(error && error.message || error)});
    } finally {
      current = null;
    }
  });
};
