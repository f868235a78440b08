// Times @node-rs/jieba on a UTF-8 text: dictionary load, then the best of
// REPEAT runs (wall and CPU time) over the whole text of cut(text, false) (no HMM) and of
// tag(text, false). Prints JSON.
// Usage: node peer_node_rs_jieba.js TEXT [REPEAT]   (NODE_PATH = its node_modules)
const fs = require('fs');
const text = fs.readFileSync(process.argv[2], 'utf8');
const repeat = Number(process.argv[3] || 3);
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
// Best wall and best CPU time (user + system, of the process) of REPEAT runs.
function best(run) {
  let seconds = Infinity, cpu = Infinity, words = 0;
  for (let i = 0; i < repeat; i++) {
    t0 = process.hrtime.bigint();
    const c0 = process.cpuUsage();
    words = run().length;
    const c = process.cpuUsage(c0);
    seconds = Math.min(seconds, Number(process.hrtime.bigint() - t0) / 1e9);
    cpu = Math.min(cpu, (c.user + c.system) / 1e6);
  }
  return { seconds, cpu, words };
}
const cut = best(() => jieba.cut(text, false));
const tag = best(() => jieba.tag(text, false));
let version = '';
try { version = require('@node-rs/jieba/package.json').version; } catch (e) {}
console.log(JSON.stringify({ version, load_s: load, cut_s: cut.seconds, cut_cpu_s: cut.cpu, cut_words: cut.words,
                             tag_s: tag.seconds, tag_cpu_s: tag.cpu, tag_words: tag.words }));
