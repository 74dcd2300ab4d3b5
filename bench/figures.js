'use strict';
// What the benchmarks share: their command-line numbers, medians and the one-line summary
// of a series of timings, and the text that installs a bench's page functions.

// `--name N` on the command line, or `dflt`.
function arg(name, dflt) {
  const i = process.argv.indexOf('--' + name);
  return i > 0 ? Number(process.argv[i + 1]) : dflt;
}

function median(xs) {
  const s = xs.slice().sort((a, b) => a - b);
  return s.length % 2 ? s[(s.length - 1) / 2] : (s[s.length / 2 - 1] + s[s.length / 2]) / 2;
}

// "median … ms, min …, max … (n runs)" with `digits` decimals.
function stats(xs, digits = 0) {
  const s = xs.slice().sort((a, b) => a - b);
  return `median ${median(s).toFixed(digits)} ms, min ${s[0].toFixed(digits)}, max ${s[s.length - 1].toFixed(digits)} (${s.length} runs)`;
}

// Statements that make each function a global of the page; the page's policy forbids eval,
// rightly, so they go in as a script.
const pageSource = (fns) => fns.map((f) => `window.${f.name} = ${f.toString()};`).join('\n');

module.exports = { arg, median, stats, pageSource };
