// The texts: the desktop program's own (resources/strings/*.strings, copied
// beside the page), in English or Japanese.

export const kLanguages = ['en', 'ja'];

const kEntry = /^"([^"]+)" = "((?:[^"\\]|\\.)*)";/gm;

function Unescape(text) {
  return text.replace(/\\(.)/g, (all, c) => (c === 'n' ? '\n' : c));
}

export function ParseStrings(text) {
  const table = new Map();
  for (const match of text.matchAll(kEntry)) table.set(match[1], Unescape(match[2]));
  return table;
}

// The language the browser asks for, if the page has it.
export function PreferredLanguage() {
  for (const tag of navigator.languages || [navigator.language || 'en']) {
    const language = String(tag).toLowerCase().split('-')[0];
    if (kLanguages.includes(language)) return language;
  }
  return 'en';
}

export class Texts {
  constructor() {
    this.tables = new Map();
    this.language = 'en';
  }

  async Load(language) {
    for (const wanted of new Set(['en', language])) {
      if (this.tables.has(wanted)) continue;
      const response = await fetch(`strings/${wanted}.strings`);
      if (!response.ok) throw new Error(`strings/${wanted}.strings: ${response.status}`);
      this.tables.set(wanted, ParseStrings(await response.text()));
    }
    this.language = language;
  }

  Has(key) {
    return this.tables.get('en')?.has(key) ?? false;
  }

  // The text of `key` with each {name} replaced by values[name].
  T(key, values = {}) {
    const table = this.tables.get(this.language);
    let text = (table && table.get(key)) ?? this.tables.get('en')?.get(key) ?? key;
    for (const [name, value] of Object.entries(values)) text = text.split(`{${name}}`).join(value);
    return text;
  }
}
