// The page's one way to the core: check and convert movies in the worker,
// each output a file in the origin private file system. The buttons and
// window.spatialmuxWeb both go through it.

const kPrefix = 'spatialmux-';

export class Cancelled extends Error {
  constructor() {
    super('cancelled');
    this.name = 'AbortError';
    this.cancelled = true;
  }
}

// A movie the core refuses; `message` is the refusal's text.
export class Refused extends Error {
  constructor(message) {
    super(message);
    this.name = 'Refused';
    this.refused = true;
  }
}

function Sleep(milliseconds) {
  return new Promise((resolve) => setTimeout(resolve, milliseconds));
}

// An entry is removed once nothing holds it open: a worker that was ended
// lets go of its access handle a moment later.
async function RemoveEntry(name) {
  const root = await navigator.storage.getDirectory();
  for (let attempt = 0; attempt < 50; ++attempt) {
    try {
      await root.removeEntry(name);
      return;
    } catch (error) {
      if (error.name === 'NotFoundError') return;
      await Sleep(100);
    }
  }
}

export class SpatialmuxWeb {
  constructor(workerUrl = 'worker.js') {
    this.workerUrl = workerUrl;
    this.worker = null;
    this.nextId = 1;
    this.jobs = [];       // waiting, in order
    this.running = null;  // {id, message, resolve, reject, onProgress, entry}
    this.tab = crypto.randomUUID();
    this.outputs = 0;
    // A sweep that fails leaves old entries; it never stops a conversion.
    this.ready = this.HoldTab().then(() => this.Sweep()).catch(() => {});
  }

  // The private storage of this page's origin is shared by its tabs: each
  // holds a lock for as long as it is open, and a tab's outputs are removed
  // by the next page that finds the tab gone (closed or crashed).
  async HoldTab() {
    if (!navigator.locks) return;
    await new Promise((held) => {
      navigator.locks.request(kPrefix + this.tab, () => {
        held();
        return new Promise(() => {});
      });
    });
  }

  async Sweep() {
    if (!navigator.locks || !navigator.storage || !navigator.storage.getDirectory) return;
    const held = new Set(((await navigator.locks.query()).held || []).map((lock) => lock.name));
    const root = await navigator.storage.getDirectory();
    const gone = [];
    for await (const name of root.keys()) {
      const tab = name.startsWith(kPrefix) ? name.slice(kPrefix.length).split('.')[0] : null;
      if (tab && !held.has(kPrefix + tab.replace(/-\d+$/, ''))) gone.push(name);
    }
    await Promise.all(gone.map((name) => root.removeEntry(name).catch(() => {})));
  }

  Worker() {
    if (!this.worker) {
      this.worker = new Worker(this.workerUrl);
      this.worker.onmessage = (event) => this.Answer(event.data);
      this.worker.onerror = (event) => {
        event.preventDefault();
        this.Fail(new Error(event.message || 'the worker stopped'));
      };
    }
    return this.worker;
  }

  Ask(message, onProgress) {
    return new Promise((resolve, reject) => {
      const job = {id: this.nextId++, message, resolve, reject, onProgress};
      this.jobs.push(job);
      this.Next();
    });
  }

  Next() {
    if (this.running || this.jobs.length === 0) return;
    this.running = this.jobs.shift();
    this.Worker().postMessage({...this.running.message, id: this.running.id});
  }

  Answer(data) {
    const job = this.running;
    if (!job || data.id !== job.id) return;
    if (data.progress) {
      if (job.onProgress) job.onProgress(data.progress);
      return;
    }
    this.running = null;
    if ('error' in data) job.reject(new Error(data.error));
    else job.resolve(data.result);
    this.Next();
  }

  Fail(error) {
    const job = this.running;
    this.running = null;
    if (this.worker) this.worker.terminate();
    this.worker = null;
    if (job) job.reject(error);
    this.Next();
  }

  async check(file) {
    return this.Ask({op: 'check', file});
  }

  async outputName(inputName) {
    return (await this.Ask({op: 'name', name: inputName})).name;
  }

  // Converts `file`; resolves to {file, name, report}, the output a File in
  // private storage. `signal` (an AbortSignal) cancels: the worker is ended,
  // the partial output removed, and the promise rejects with Cancelled.
  async convert(file, options = {}) {
    await this.ready;
    const {signal, onProgress} = options;
    if (signal && signal.aborted) throw new Cancelled();
    const name = await this.outputName(file.name);
    if (signal && signal.aborted) throw new Cancelled();
    const entry = `${kPrefix}${this.tab}-${++this.outputs}.mov`;
    const coreOptions = {
      ambisonics: options.ambisonics || '',
      projection: options.projection || '',
      language: options.language || 'en',
    };
    const message = {op: 'convert', file, options: coreOptions, entry, outName: name};
    let job = null;
    const done = new Promise((resolve, reject) => {
      job = {id: this.nextId++, message, resolve, reject, onProgress};
    });
    const cancel = () => this.Cancel(job, entry);
    if (signal) signal.addEventListener('abort', cancel, {once: true});
    this.jobs.push(job);
    this.Next();
    let result;
    try {
      result = await done;
    } finally {
      if (signal) signal.removeEventListener('abort', cancel);
    }
    if (!result.ok) {
      if (result.cancelled) throw new Cancelled();
      const error = new Refused(result.message || 'the conversion failed');
      error.refused = Boolean(result.refused);
      // What went wrong in the core's words (English), beside the alert.
      if (result.cause) error.detail = result.cause;
      throw error;
    }
    const root = await navigator.storage.getDirectory();
    const stored = await (await root.getFileHandle(entry)).getFile();
    const output = new File([stored], name, {type: 'video/quicktime'});
    output.entry = entry;
    return {file: output, name, report: result.report};
  }

  async Cancel(job, entry) {
    const waiting = this.jobs.indexOf(job);
    if (waiting >= 0) {
      this.jobs.splice(waiting, 1);
    } else if (this.running === job) {
      this.running = null;
      this.worker.terminate();
      this.worker = null;
    } else {
      return;
    }
    await RemoveEntry(entry);
    job.reject(new Cancelled());
    this.Next();
  }

  // Forgets an output: its private storage entry is removed.
  async release(output) {
    if (output && output.entry) await RemoveEntry(output.entry);
  }
}
