// Drives the page through window.spatialmuxWeb and posts what came out to
// the test's server (tests/web/browser_test.py), which judges it.

async function Post(path, body) {
  await fetch(path, {method: 'POST', body});
}

async function Fixture(name) {
  const response = await fetch(`/fixtures/${encodeURIComponent(name)}`);
  if (!response.ok) throw new Error(`${name}: ${response.status}`);
  return new File([await response.blob()], name);
}

async function Entries(window) {
  const root = await window.navigator.storage.getDirectory();
  const names = [];
  for await (const name of root.keys()) names.push(name);
  return names;
}

async function Run(page, api, step) {
  const file = await Fixture(step.file);
  const result = {file: step.file};
  result.check = await api.check(file);
  const options = {ambisonics: step.ambisonics || '', projection: step.projection || ''};
  if (step.cancel) {
    const abort = new AbortController();
    options.signal = abort.signal;
    options.onProgress = () => abort.abort();
  }
  try {
    const converted = await api.convert(file, options);
    result.name = converted.name;
    result.report = converted.report;
    result.size = converted.file.size;
    await Post(`/results/${encodeURIComponent(step.file)}.out`, converted.file);
    await api.release(converted.file);
  } catch (error) {
    result.error = {name: error.name, message: error.message, refused: Boolean(error.refused),
                    cancelled: Boolean(error.cancelled)};
  }
  result.entries = await Entries(page);
  return result;
}

async function Main() {
  const results = {steps: [], userAgent: navigator.userAgent};
  try {
    const plan = await (await fetch('/fixtures/plan.json')).json();
    const frame = document.getElementById('page');
    while (!frame.contentWindow.spatialmuxWeb) await new Promise((r) => setTimeout(r, 50));
    const page = frame.contentWindow;
    const api = page.spatialmuxWeb;
    await api.ready;
    for (const step of plan) results.steps.push(await Run(page, api, step));
  } catch (error) {
    results.error = String(error && error.stack || error);
  }
  await Post('/done', JSON.stringify(results));
}

Main();
