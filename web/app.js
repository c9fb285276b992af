// The page: a list of movies, each checked when it is added, converted on
// its Convert button and saved with the name the desktop program would
// give it. window.spatialmuxWeb is the same for programs and tests.

import {Cancelled, SpatialmuxWeb} from './spatialmux-web.js';
import {PreferredLanguage, Texts} from './strings.js';

const texts = new Texts();
const T = (key, values) => texts.T(key, values);
const web = new SpatialmuxWeb();

// Sizes and durations as the desktop program writes them.
function HumanSize(bytes) {
  if (bytes < 1000) return `${bytes} bytes`;
  const units = ['kB', 'MB', 'GB', 'TB'];
  let value = bytes / 1000;
  let unit = 0;
  while (value >= 1000 && unit < 3) {
    value /= 1000;
    ++unit;
  }
  return `${value.toFixed(1)} ${units[unit]}`;
}

function HumanDuration(seconds) {
  const total = Math.round(Math.min(Math.max(seconds || 0, 0), 99 * 3600));
  const two = (n) => String(n).padStart(2, '0');
  const hours = Math.floor(total / 3600);
  const minutes = Math.floor(total / 60) % 60;
  return hours > 0 ? `${hours}:${two(minutes)}:${two(total % 60)}`
                   : `${minutes}:${two(total % 60)}`;
}

function Element(tag, attributes = {}, ...children) {
  const element = document.createElement(tag);
  for (const [name, value] of Object.entries(attributes)) {
    if (name === 'text') element.textContent = value;
    else if (name.startsWith('on')) element.addEventListener(name.slice(2), value);
    else if (value === true) element.setAttribute(name, '');
    else if (value !== false && value != null) element.setAttribute(name, value);
  }
  element.append(...children.filter((child) => child != null));
  return element;
}

// The core counts each phase from 0 to 100; the row shows the whole
// conversion as the desktop does (the edit: the copy first, then the audio).
const kPhaseSpans = {
  camera: {copy: [0, 20], audio: [20, 95], metadata: [95, 97], verify: [97, 100]},
  other: {copy: [0, 90], metadata: [90, 95], verify: [95, 100]},
};

function Overall(report, phase, percent) {
  const spans = kPhaseSpans[report && report.kind === 'camera movie' ? 'camera' : 'other'];
  const [from, to] = spans[phase] || [0, 100];
  return from + (to - from) * Math.min(Math.max(percent, 0), 100) / 100;
}

// What the check says of a movie, as spatialmux-gui reads it: whether it
// converts, and what the user must say first.
function VerdictOfCheck(report) {
  const verdict = {convertible: false, ready: false, needsChannels: false,
                   needsProjection: false, whyNot: ''};
  const spatial = report.spatial || '';
  if (report.cutShortAt > 0) {
    verdict.whyNot = T('skip.cutshort', {byte: String(report.cutShortAt)});
  } else if (report.kind === 'camera movie' && report.convertible) {
    verdict.convertible = true;
  } else if (report.kind === 'camera movie') {
    verdict.whyNot = T('skip.notconvertible', {reason: report.reason || ''});
  } else if (report.kind === 'movie' && report.ready) {
    verdict.ready = true;
  } else if (report.kind === 'movie' && (spatial === 'first-order ambisonics, declared' ||
                                         spatial === 'four undeclared channels')) {
    verdict.convertible = report.convertible !== false;
    if (!verdict.convertible) verdict.whyNot = report.reason || '';
    verdict.needsChannels = spatial === 'four undeclared channels';
    const v2 = report.sphericalV2;
    verdict.needsProjection = report.sphericalV1 === null && v2 != null && !v2.sv3d;
    // Audio that has to be decoded (AAC, Opus) is the desktop program's.
    const audio = Array.isArray(report.audio) ? report.audio[0] : null;
    if (verdict.convertible && audio && !/^pcm_s(16|24)/.test(audio.codec || '')) {
      verdict.convertible = false;
      verdict.whyNot = T('web.desktop.decode', {codec: audio.codec || '?'});
    }
  } else {
    verdict.whyNot = T(report.kind === 'movie' ? 'skip.notcamera' : 'skip.notmovie');
  }
  return verdict;
}

// One movie of the list.
class Row {
  constructor(file) {
    this.file = file;
    this.state = 'checking';  // checking ready notready alreadyready converting converted
                              // cancelled failed
    this.report = null;
    this.verdict = null;
    this.outputName = '';
    this.channels = '';
    this.equirectangular = false;
    this.progress = null;  // {phase, percent}
    this.started = 0;
    this.result = null;    // {file, name, report}
    this.message = '';
    this.abort = null;
    this.id = Row.next = (Row.next || 0) + 1;
    this.element = Element('li', {class: 'row', 'aria-labelledby': `name-${this.id}`});
  }

  async Check() {
    try {
      const [report, name] = await Promise.all([web.check(this.file),
                                                web.outputName(this.file.name)]);
      this.report = report;
      this.outputName = name;
      this.verdict = VerdictOfCheck(report);
      this.state = this.verdict.convertible ? 'ready'
                 : this.verdict.ready    ? 'alreadyready'
                                         : 'notready';
    } catch (error) {
      this.state = 'notready';
      this.verdict = {whyNot: T('skip.checkfailed', {cause: error.message})};
    }
    this.Render();
  }

  Missing() {
    const verdict = this.verdict || {};
    return {channels: verdict.needsChannels && !this.channels,
            projection: verdict.needsProjection && !this.equirectangular};
  }

  async Convert() {
    if (this.state !== 'ready' && this.state !== 'failed' && this.state !== 'cancelled') return;
    const missing = this.Missing();
    if (missing.channels || missing.projection) return;
    this.state = 'converting';
    this.progress = {phase: 'check', percent: 0};
    this.started = performance.now();
    this.abort = new AbortController();
    this.Render();
    try {
      this.result = await web.convert(this.file, {
        ambisonics: this.verdict.needsChannels ? this.channels : '',
        projection: this.verdict.needsProjection && this.equirectangular ? 'equirectangular' : '',
        language: texts.language,
        signal: this.abort.signal,
        onProgress: ({phase, percent}) => {
          this.progress = {phase, percent: Math.max(this.progress.percent,
                                                    Overall(this.report, phase, percent))};
          this.RenderProgress();
        },
      });
      this.state = 'converted';
    } catch (error) {
      this.state = error instanceof Cancelled ? 'cancelled' : 'failed';
      this.message = error.message;
      this.detail = error.detail || '';
    }
    this.abort = null;
    const hadFocus = this.element.contains(document.activeElement);
    this.Render();
    const next = this.element.querySelector('.save') || this.element.querySelector('.convert');
    if (hadFocus && next) next.focus();
  }

  Cancel() {
    if (this.abort) this.abort.abort();
  }

  async Save() {
    const output = this.result.file;
    if (window.showSaveFilePicker) {
      let handle;
      try {
        handle = await window.showSaveFilePicker({
          suggestedName: this.result.name,
          types: [{description: T('save.filter'), accept: {'video/quicktime': ['.mov']}}],
        });
      } catch (error) {
        if (error.name === 'AbortError') return;
        throw error;
      }
      await output.stream().pipeTo(await handle.createWritable());
      return;
    }
    const link = Element('a', {href: URL.createObjectURL(output), download: this.result.name});
    document.body.append(link);
    link.click();
    link.remove();
    setTimeout(() => URL.revokeObjectURL(link.href), 60000);
  }

  async Remove() {
    this.Cancel();
    if (this.result) await web.release(this.result.file);
    rows.splice(rows.indexOf(this), 1);
    const next = this.element.nextElementSibling || this.element.previousElementSibling;
    this.element.remove();
    (next ? next.querySelector('button') : document.getElementById('choose')).focus();
  }

  StateText() {
    const missing = this.Missing();
    switch (this.state) {
      case 'checking': return T('state.checking');
      case 'ready':
        if (missing.channels && missing.projection) return T('state.choose.both');
        if (missing.channels) return T('state.choose.channels');
        if (missing.projection) return T('state.choose.projection');
        return T('state.ready');
      case 'alreadyready': return T('state.alreadyready');
      case 'notready': return T('state.skipped', {reason: this.verdict.whyNot});
      case 'converting': return this.ProgressText();
      case 'converted': return T('state.converted', {size: HumanSize(this.result.file.size)});
      case 'cancelled': return T('state.cancelled');
      case 'failed': return T('state.failed', {reason: this.message});
    }
    return '';
  }

  ProgressText() {
    const {phase, percent} = this.progress;
    const whole = String(Math.floor(percent));
    // The core's copy of the input is the desktop edit's first part.
    const key = `phase.${phase === 'copy' ? 'edit' : phase}`;
    const words = texts.Has(key) ? T(key) : phase;
    let text = phase ? T('state.converting.phase', {percent: whole, phase: words})
                     : T('state.converting', {percent: whole});
    const elapsed = (performance.now() - this.started) / 1000;
    if (percent >= 1 && elapsed >= 1.5) {
      text = T('web.left', {state: text,
                            time: HumanDuration(elapsed * (100 - percent) / percent)});
    }
    return text;
  }

  // What the check found, in its own words.
  Facts() {
    const report = this.report;
    if (!report) return null;
    const kinds = {'camera movie': 'details.kind.camera', 'movie': 'details.kind.movie'};
    const lines = [T(kinds[report.kind] || 'details.kind.notmovie')];
    const video = report.video;
    if (video) {
      lines.push(`${T('details.video')}: ${video.codec}, ${video.width} x ${video.height}, ` +
                 `${Number(video.frameRate.toPrecision(3))} fps, ${video.duration.toFixed(2)} s`);
    }
    const audio = Array.isArray(report.audio) ? report.audio[0] : report.audio;
    if (audio) {
      const codec = audio.codec || audio.format || '?';
      lines.push(`${T('details.audio')}: ${codec}, ${audio.channels} ch, ${audio.sampleRate} Hz`);
    }
    if (report.spatial) lines.push(report.spatial);
    return Element('p', {class: 'facts', text: lines.join(' · ')});
  }

  Choices() {
    const verdict = this.verdict;
    if (this.state !== 'ready' && this.state !== 'failed' && this.state !== 'cancelled') return null;
    if (!verdict || (!verdict.needsChannels && !verdict.needsProjection)) return null;
    const box = Element('div', {class: 'choices'});
    if (verdict.needsChannels) {
      const group = Element('fieldset', {}, Element('legend', {text: T('droplet.ask.channels')}));
      for (const [value, key] of [['ambix', 'action.ambix.menu'], ['fuma', 'action.fuma.menu']]) {
        const id = `channels-${this.id}-${value}`;
        group.append(Element('span', {class: 'choice'},
            Element('input', {type: 'radio', id, name: `channels-${this.id}`, value,
                              checked: this.channels === value,
                              onchange: () => { this.channels = value; this.Render(id); }}),
            Element('label', {for: id, text: T(key)})));
      }
      box.append(group);
    }
    if (verdict.needsProjection) {
      const id = `equirect-${this.id}`;
      box.append(Element('fieldset', {},
          Element('legend', {text: T('droplet.ask.projection')}),
          Element('span', {class: 'choice'},
              Element('input', {type: 'checkbox', id, checked: this.equirectangular,
                                onchange: (event) => {
                                  this.equirectangular = event.target.checked;
                                  this.Render(id);
                                }}),
              Element('label', {for: id, text: T('action.equirect.menu')}))));
    }
    return box;
  }

  Buttons() {
    const bar = Element('div', {class: 'buttons'});
    const missing = this.Missing();
    if (['ready', 'failed', 'cancelled'].includes(this.state)) {
      bar.append(Element('button', {type: 'button', class: 'convert primary',
                                    text: T('gui.convert'),
                                    disabled: missing.channels || missing.projection,
                                    onclick: () => this.Convert()}));
    }
    if (this.state === 'converting') {
      bar.append(Element('button', {type: 'button', class: 'cancel', text: T('progress.cancel'),
                                    onclick: () => this.Cancel()}));
    }
    if (this.state === 'converted') {
      bar.append(Element('button', {type: 'button', class: 'save primary', text: T('web.save'),
                                    onclick: () => this.Save().catch((error) => Notice(
                                        error.message))}));
    }
    if (this.state !== 'converting') {
      bar.append(Element('button', {type: 'button', class: 'remove', text: T('gui.remove'),
                                    'aria-label': `${T('gui.remove')}: ${this.file.name}`,
                                    onclick: () => this.Remove()}));
    }
    return bar;
  }

  RenderProgress() {
    const bar = this.element.querySelector('progress');
    const status = this.element.querySelector('.state');
    if (!bar || !status) return this.Render();
    bar.value = this.progress.percent;
    // Said aloud in whole steps of ten, shown at every step.
    status.textContent = this.ProgressText();
    const step = Math.floor(this.progress.percent / 10);
    if (step !== this.spoken) {
      this.spoken = step;
      Announce(`${this.file.name}: ${status.textContent}`);
    }
  }

  Render(focusId) {
    // The focus stays on the row: on the same control if it is still
    // there, otherwise on the row's first button.
    const focused = this.element.contains(document.activeElement)
        ? (document.activeElement.id || '.' + document.activeElement.classList[0]) : null;
    const output = this.outputName ? `${T('progress.output')}${this.outputName}` : '';
    const parts = [
        Element('h3', {id: `name-${this.id}`, class: 'name', text: this.file.name},
                Element('span', {class: 'size', text: HumanSize(this.file.size)})),
        this.Facts(),
        Element('p', {class: `state state-${this.state}`, text: this.StateText()}),
        this.state === 'converting'
            ? Element('progress', {max: '100', value: String(this.progress.percent),
                                   'aria-label': this.file.name})
            : null,
        this.Choices(),
        this.state === 'failed' && this.detail
            ? Element('p', {class: 'detail', text: this.detail}) : null,
        output && this.state !== 'notready' && this.state !== 'alreadyready'
            ? Element('p', {class: 'output', text: output}) : null,
        this.state === 'converted' && !window.showSaveFilePicker
            ? Element('p', {class: 'hint', text: T('web.save.download')}) : null,
        this.Buttons()];
    this.element.className = `row row-${this.state}`;
    this.element.replaceChildren(...parts.filter((part) => part));
    if (this.state === 'converting') this.RenderProgress();
    if (this.state !== this.said) {
      this.said = this.state;
      this.spoken = -1;
      if (this.state !== 'converting') Announce(`${this.file.name}: ${this.StateText()}`);
    }
    const wanted = focusId || focused;
    if (wanted) {
      const again = focusId ? document.getElementById(focusId)
          : (wanted.startsWith('.') ? this.element.querySelector(wanted)
                                    : document.getElementById(wanted));
      (again || this.element.querySelector('button'))?.focus();
    }
  }
}

// One live region for the whole page, created with it: screen readers say
// what is written into it.
function Announce(text) {
  document.getElementById('announce').textContent = text;
}

const rows = [];

function Notice(text) {
  const notice = document.getElementById('notice');
  notice.textContent = text;
  notice.hidden = !text;
}

function Add(files) {
  Notice('');
  const list = document.getElementById('rows');
  for (const file of files) {
    const row = new Row(file);
    rows.push(row);
    row.Render();
    list.append(row.element);
    row.Check();
  }
}

// Dropped folders are the desktop program's (spatialmux-gui, Add Folder…).
function TakeDrop(transfer) {
  const files = [];
  let folders = 0;
  const items = Array.from(transfer.items || []);
  items.forEach((item, index) => {
    const entry = item.webkitGetAsEntry ? item.webkitGetAsEntry() : null;
    if (entry && entry.isDirectory) {
      ++folders;
    } else if (item.kind === 'file') {
      const file = item.getAsFile() || transfer.files[index];
      if (file) files.push(file);
    }
  });
  if (items.length === 0) files.push(...transfer.files);
  Add(files);
  if (folders > 0) Notice(T('web.desktop.folders'));
}

function Translate() {
  document.documentElement.lang = texts.language;
  for (const element of document.querySelectorAll('[data-text]')) {
    element.textContent = T(element.dataset.text);
  }
  document.getElementById('rows').setAttribute('aria-label', T('web.movies'));
  for (const row of rows) row.Render();
}

async function Start() {
  const supported = 'Worker' in window && navigator.storage && navigator.storage.getDirectory &&
                    window.isSecureContext;
  const language = new URLSearchParams(location.search).get('lang') ||
                   localStorage.getItem('spatialmux-language') || PreferredLanguage();
  await texts.Load(['en', 'ja'].includes(language) ? language : 'en');
  Translate();
  const select = document.getElementById('language');
  select.value = texts.language;
  select.addEventListener('change', async () => {
    await texts.Load(select.value);
    localStorage.setItem('spatialmux-language', select.value);
    Translate();
  });
  if (!supported) {
    Notice(T('web.unsupported'));
    document.getElementById('choose').disabled = true;
    return;
  }
  const input = document.getElementById('files');
  document.getElementById('choose').addEventListener('click', () => input.click());
  input.addEventListener('change', () => {
    Add(Array.from(input.files));
    input.value = '';
  });
  const zone = document.getElementById('drop');
  for (const name of ['dragenter', 'dragover']) {
    document.addEventListener(name, (event) => {
      event.preventDefault();
      zone.classList.add('over');
    });
  }
  document.addEventListener('dragleave', (event) => {
    if (!event.relatedTarget) zone.classList.remove('over');
  });
  document.addEventListener('drop', (event) => {
    event.preventDefault();
    zone.classList.remove('over');
    TakeDrop(event.dataTransfer);
  });
  document.body.dataset.ready = 'true';
}

// The contract for programs and tests (README, "In a browser").
window.spatialmuxWeb = {
  check: (file) => web.check(file),
  async convert(file, options = {}) {
    const {ambisonics = '', projection = '', signal, onProgress} = options;
    return web.convert(file, {ambisonics, projection, signal, onProgress,
                              language: texts.language});
  },
  outputName: (name) => web.outputName(name),
  release: (output) => web.release(output),
  ready: null,
};
window.spatialmuxWeb.ready = Start();
