import LoadVarek from '../varek.js';

const reader = new FileReaderSync();
// The files' bytes read once before timing, so that the loads time the decode and
// not the browser's file reads.
let files = [];
const ready = LoadVarek({
  readChosenFile: (index, offset, count) => files[index].subarray(offset, offset + count),
});
self.onmessage = async ({ data: { entries, name, rounds } }) => {
  const core = await ready;
  files = entries.map((entry) => new Uint8Array(reader.readAsArrayBuffer(entry.file)));
  const listing = entries.map((entry) => `${entry.path}\n${entry.file.size}\n`).join('');
  core.ccall('varek_open', 'string', ['string'], [listing]);
  const times = [];
  let answer;
  for (let i = 0; i < rounds; ++i) {
    const start = performance.now();
    answer = JSON.parse(core.ccall('varek_load', 'string', ['number', 'string', 'number'], [2, name, 0]));
    times.push(performance.now() - start);
  }
  self.postMessage({ times, pictures: answer.pictures, error: answer.error });
};
