// Runs the core compiled with em++ under Node, as the page's worker does:
// the working folder mounted (NODEFS) and entered, so that the names given
// are the names the desktop program is given.
//   node --no-experimental-fetch run_core.js CORE.js check MOVIE
//   node --no-experimental-fetch run_core.js CORE.js name MOVIE
//   node --no-experimental-fetch run_core.js CORE.js convert MOVIE OUTPUT [OPTIONS-JSON] [cancel]
// prints the answer's JSON; `cancel` answers smxCancelled with 1 from the
// first progress on. The progress phases seen go to standard error.
'use strict';
const path = require('path');
const createSpatialmuxCore = require(path.resolve(process.argv[2]));
const [command, movie, output, options, cancel] = process.argv.slice(3);
let stop = false;
const phases = [];
createSpatialmuxCore({
  smxProgress: (phase, percent) => {
    if (phases[phases.length - 1] !== phase) phases.push(phase);
    if (percent < 0 || percent > 100) throw new Error(`progress ${percent} %`);
    if (cancel === 'cancel') stop = true;
  },
  smxCancelled: () => (stop ? 1 : 0),
}).then((core) => {
  core.FS.mkdir('/host');
  core.FS.mount(core.FS.filesystems.NODEFS, {root: process.cwd()}, '/host');
  core.FS.chdir('/host');
  const call = (name, ...args) => {
    const answer = core.ccall(name, 'number', args.map(() => 'string'), args);
    const text = core.UTF8ToString(answer);
    core._smx_free(answer);
    return text;
  };
  if (command === 'check') console.log(call('smx_check', movie));
  else if (command === 'name') console.log(call('smx_output_name', movie));
  else console.log(call('smx_convert', movie, output, options || '{}'));
  console.error(`phases: ${phases.join(' ')}`);
});
