// Times @node-rs/jieba's cut(text, false) (no HMM) on a UTF-8 text: dictionary
// load, then the best of REPEAT cuts of the whole text. Prints JSON.
// Usage: node peer_node_rs_jieba.js TEXT [REPEAT]   (NODE_PATH = its node_modules)
const fs = require('fs');
const text = fs.readFileSync(process.argv[2], 'utf8');
const repeat = Number(process.argv[3] || 5);
let t0 = process.hrtime.bigint();
const mod = require('@node-rs/jieba');
let jieba;
if (mod.Jieba) {
  const { dict } = require('@node-rs/jieba/dict');
  jieba = mod.Jieba.withDict(dict);
} else {
  mod.load();
  jieba = mod;
}
const load = Number(process.hrtime.bigint() - t0) / 1e9;
let best = Infinity, words = 0;
for (let i = 0; i < repeat; i++) {
  t0 = process.hrtime.bigint();
  words = jieba.cut(text, false).length;
  best = Math.min(best, Number(process.hrtime.bigint() - t0) / 1e9);
}
let version = '';
try { version = require('@node-rs/jieba/package.json').version; } catch (e) {}
console.log(JSON.stringify({ peer: `@node-rs/jieba ${version} cut(text, false)`, load_s: load, cut_s: best, words }));
