// The page and its worker in one module. The worker holds the core (varek.js and
// varek.wasm) and the files of the chosen folder, reading each only when the core
// asks for its bytes; the page draws what the worker hands it and sends nothing
// anywhere.

const inWorker = typeof window === 'undefined';

if (inWorker) {
  RunWorker();
} else {
  RunPage();
}

// The worker: one request at a time, answered in order.
function RunWorker() {
  let files = [];
  const reader = new FileReaderSync();
  const ready = import('./varek.js').then((module) => module.default({
    // The core's reads of the chosen folder: count bytes from offset of file number
    // index, or null when the browser cannot read them.
    readChosenFile(index, offset, count) {
      try {
        const file = files[index];
        return new Uint8Array(reader.readAsArrayBuffer(file.slice(offset, offset + count)));
      } catch {
        return null;
      }
    },
  }));

  const call = (core, name, ...args) => {
    const types = args.map((arg) => (typeof arg === 'string' ? 'string' : 'number'));
    return JSON.parse(core.ccall(name, 'string', types, args));
  };
  const bytesOut = (core, answer) => {
    const at = core.ccall('varek_bytes', 'number', [], []);
    return core.HEAPU8.slice(at, at + answer.bytes);
  };

  const handlers = {
    open(core, { entries }) {
      // The listing is a name and a size a line: a name holding a line break, which
      // no game file has, is left out.
      entries = entries.filter((entry) => !entry.path.includes('\n'));
      files = entries.map((entry) => entry.file);
      const listing = entries.map((entry) => `${entry.path}\n${entry.file.size}\n`).join('');
      return { answer: call(core, 'varek_open', listing) };
    },
    load(core, { category, name, rotate }) {
      return { answer: call(core, 'varek_load', category, name, rotate ? 1 : 0) };
    },
    show(core, { picture }) {
      const answer = call(core, 'varek_show', picture);
      if (answer.error) {
        return { answer };
      }
      const bytes = bytesOut(core, answer);
      // The palette indices and colours too, for the pixel under the mouse.
      const indexed = call(core, 'varek_file', 1);
      return { answer, bytes, indexed: indexed.error ? null : bytesOut(core, indexed) };
    },
    async file(core, { format }) {
      const answer = call(core, 'varek_file', { bmp: 0, png: 1, gif: 2 }[format]);
      if (answer.error) {
        return { answer };
      }
      let bytes = bytesOut(core, answer);
      if (format === 'png') {
        bytes = await EncodePng(answer.width, answer.height, bytes);
      }
      return { answer, bytes };
    },
  };

  let queue = Promise.resolve();
  self.onmessage = ({ data }) => {
    queue = queue.then(async () => {
      let reply;
      try {
        const core = await ready;
        reply = await handlers[data.op](core, data);
      } catch (error) {
        reply = { answer: { error: `The page failed: ${error.message || error}` } };
      }
      const transfer = [reply.bytes, reply.indexed].filter(Boolean).map((bytes) => bytes.buffer);
      self.postMessage({ id: data.id, ...reply }, transfer);
    });
  };
}

// An 8-bit indexed PNG of width x height palette indices followed by their 256
// colours as red, green and blue, compressed by the browser's own zlib stream.
async function EncodePng(width, height, indexedAndColours) {
  const pixels = indexedAndColours.subarray(0, width * height);
  const colours = indexedAndColours.subarray(width * height);
  const raw = new Uint8Array((width + 1) * height);
  for (let row = 0; row < height; ++row) {
    raw.set(pixels.subarray(row * width, (row + 1) * width), row * (width + 1) + 1);
  }
  const stream = new Blob([raw]).stream().pipeThrough(new CompressionStream('deflate'));
  const compressed = new Uint8Array(await new Response(stream).arrayBuffer());
  const header = new Uint8Array(13);
  const view = new DataView(header.buffer);
  view.setUint32(0, width);
  view.setUint32(4, height);
  header.set([8, 3, 0, 0, 0], 8);
  const parts = [new Uint8Array([137, 80, 78, 71, 13, 10, 26, 10]), PngChunk('IHDR', header),
    PngChunk('PLTE', colours), PngChunk('IDAT', compressed), PngChunk('IEND', new Uint8Array())];
  const out = new Uint8Array(parts.reduce((sum, part) => sum + part.length, 0));
  parts.reduce((at, part) => (out.set(part, at), at + part.length), 0);
  return out;
}

let crcTable;
function PngChunk(type, data) {
  if (!crcTable) {
    crcTable = new Uint32Array(256);
    for (let n = 0; n < 256; ++n) {
      let c = n;
      for (let k = 0; k < 8; ++k) {
        c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
      }
      crcTable[n] = c >>> 0;
    }
  }
  const chunk = new Uint8Array(12 + data.length);
  const view = new DataView(chunk.buffer);
  view.setUint32(0, data.length);
  for (let i = 0; i < 4; ++i) {
    chunk[4 + i] = type.charCodeAt(i);
  }
  chunk.set(data, 8);
  let crc = 0xffffffff;
  for (let i = 4; i < 8 + data.length; ++i) {
    crc = crcTable[(crc ^ chunk[i]) & 0xff] ^ (crc >>> 8);
  }
  view.setUint32(8 + data.length, (crc ^ 0xffffffff) >>> 0);
  return chunk;
}

// The page.
function RunPage() {
  const $ = (id) => document.getElementById(id);
  const worker = new Worker(new URL(import.meta.url), { type: 'module' });
  const pending = new Map();
  let nextId = 1;
  worker.onmessage = ({ data }) => {
    pending.get(data.id)(data);
    pending.delete(data.id);
  };
  const ask = (op, fields = {}) => new Promise((resolve) => {
    const id = nextId++;
    pending.set(id, resolve);
    worker.postMessage({ id, op, ...fields });
  });

  const state = {
    lists: null,
    category: 0,
    loaded: null,  // the load's answer for the selected file
    picture: 0,    // 0-based
    image: null,   // the picture on show at 1x, a canvas
    playing: false,
    origin: 0,     // performance.now() at which playback time 0 was
    showing: null, // the picture being fetched from the worker
    token: 0,      // which selection the worker's answers belong to
    indexed: null, // the picture's palette indices, then its 256 colours as RGB
    pointer: '',   // the facts of the pixel under the mouse
    hover: null,   // where the mouse is on the canvas
    marked: -1,    // the index under the mouse
    chosen: -1,    // the index whose pixels alone keep their colour
  };

  const messageBox = $('message');
  const tell = (text) => {
    messageBox.textContent = text || '';
    messageBox.hidden = !text;
  };

  async function OpenEntries(entries) {
    Stop();
    const { answer } = await ask('open', { entries });
    state.lists = null;
    state.loaded = null;
    ClearPicture('');
    if (answer.error) {
      tell(answer.error);
      FillList();
      return;
    }
    tell(answer.paletteNote);
    state.lists = answer.lists;
    FillList();
  }

  // A folder input's files carry their path from the chosen folder down; the
  // folder's own name comes first and is dropped.
  $('folder').addEventListener('change', (event) => {
    const entries = [...event.target.files].map((file) => ({
      path: file.webkitRelativePath.split('/').slice(1).join('/'),
      file,
    }));
    event.target.value = '';
    OpenEntries(entries);
  });

  if ('showDirectoryPicker' in window) {
    $('pick').hidden = false;
    $('pick').addEventListener('click', async () => {
      let folder;
      try {
        folder = await window.showDirectoryPicker();
      } catch {
        return;  // cancelled
      }
      const entries = [];
      const walk = async (handle, prefix) => {
        for await (const child of handle.values()) {
          if (child.kind === 'file') {
            entries.push({ path: prefix + child.name, file: await child.getFile() });
          } else {
            await walk(child, `${prefix}${child.name}/`);
          }
        }
      };
      await walk(folder, '');
      OpenEntries(entries);
    });
  }

  document.addEventListener('dragover', (event) => {
    event.preventDefault();
    document.body.classList.add('dragging');
  });
  document.addEventListener('dragleave', () => document.body.classList.remove('dragging'));
  document.addEventListener('drop', async (event) => {
    event.preventDefault();
    document.body.classList.remove('dragging');
    const top = [...event.dataTransfer.items].map((item) => item.webkitGetAsEntry?.())
      .find((entry) => entry && entry.isDirectory);
    if (!top) {
      tell('Drop the game folder itself on the page.');
      return;
    }
    const entries = [];
    const walk = async (directory, prefix) => {
      const reader = directory.createReader();
      for (;;) {
        const batch = await new Promise((resolve, reject) => reader.readEntries(resolve, reject));
        if (batch.length === 0) {
          break;
        }
        for (const child of batch) {
          if (child.isFile) {
            const file = await new Promise((resolve, reject) => child.file(resolve, reject));
            entries.push({ path: prefix + child.name, file });
          } else {
            await walk(child, `${prefix}${child.name}/`);
          }
        }
      }
    };
    await walk(top, '');
    OpenEntries(entries);
  });

  const list = $('files');
  function FillList() {
    list.replaceChildren();
    for (const button of $('categories').children) {
      button.setAttribute('aria-pressed', String(Number(button.dataset.category) === state.category));
      button.disabled = !state.lists;
    }
    if (!state.lists) {
      return;
    }
    const category = state.lists[state.category];
    for (const name of category.files) {
      list.add(new Option(name, name));
    }
    if (category.error) {
      ClearPicture(`Cannot list ${category.error}`);
    } else if (category.files.length === 0) {
      ClearPicture('The folder holds no files to show.');
    } else {
      list.selectedIndex = 0;
      LoadSelected();
    }
  }

  $('categories').addEventListener('click', (event) => {
    const category = event.target.dataset?.category;
    if (category === undefined || !state.lists) {
      return;
    }
    Stop();
    state.category = Number(category);
    FillList();
  });
  list.addEventListener('change', LoadSelected);
  $('rotate').addEventListener('change', () => {
    if (state.category === 0) {
      LoadSelected();
    }
  });

  async function LoadSelected() {
    Stop();
    const name = list.value;
    if (!name) {
      return;
    }
    const token = ++state.token;
    const { answer } = await ask('load', { category: state.category, name, rotate: $('rotate').checked });
    if (token !== state.token) {
      return;
    }
    if (answer.error) {
      state.loaded = null;
      ClearPicture(`${name}: ${answer.error}`);
      return;
    }
    state.loaded = { ...answer, name, rotated: $('rotate').checked };
    if (answer.stop) {
      tell(`${name} could not be read to its end.\n\n${answer.stop}`);
    } else if (answer.lineFaults) {
      tell(answer.lineFaults === 1 ? `${name}: 1 fault while loading.`
        : `${name}: ${answer.lineFaults} faults while loading.`);
    } else if (state.lists) {
      tell('');
    }
    const frame = $('frame');
    frame.max = answer.pictures;
    frame.value = 1;
    await Show(0);
  }

  function ClearPicture(note) {
    state.image = null;
    state.loaded = note ? null : state.loaded;
    $('note').textContent = note;
    Draw();
  }

  async function Show(picture) {
    if (!state.loaded) {
      return;
    }
    const token = state.token;
    state.showing = picture;
    const { answer, bytes, indexed } = await ask('show', { picture });
    state.showing = null;
    if (token !== state.token) {
      return;
    }
    if (answer.error) {
      ClearPicture(`${state.loaded.name}: ${answer.error}`);
      return;
    }
    const image = state.image?.width === answer.width && state.image?.height === answer.height
      ? state.image : Object.assign(document.createElement('canvas'), {
        width: answer.width, height: answer.height });
    image.getContext('2d').putImageData(
      new ImageData(new Uint8ClampedArray(bytes.buffer), answer.width, answer.height), 0, 0);
    state.image = image;
    state.indexed = indexed;
    state.picture = picture;
    $('note').textContent = '';
    $('frame').value = picture + 1;
    Draw();
  }

  const box = $('box');
  const canvas = $('picture');
  function Scale() {
    const zoom = $('zoom').value;
    if (!state.image) {
      return 1;
    }
    if (zoom !== 'fit') {
      return Number(zoom);
    }
    // The largest whole factor that shows the picture whole, or 1/2, 1/3 ... below 1.
    const room = Math.min(box.clientWidth / state.image.width,
      box.clientHeight / (state.image.height * Stretch()));
    return room >= 1 - 1e-9 ? Math.floor(room + 1e-9) : 1 / Math.ceil(1 / room - 1e-9);
  }
  const aspectApplies = () => state.image?.width === 320 && state.image?.height === 200;
  const Stretch = () => ($('aspect').checked && aspectApplies() ? 1.2 : 1);

  function Draw() {
    const image = state.image;
    const scale = Scale();
    canvas.width = image ? Math.round(image.width * scale) : 0;
    canvas.height = image ? Math.round(image.height * scale * Stretch()) : 0;
    if (image) {
      const context = canvas.getContext('2d');
      context.imageSmoothingEnabled = false;
      context.drawImage(image, 0, 0, canvas.width, canvas.height);
      if (state.chosen >= 0 && state.indexed) {
        context.drawImage(Highlight(), 0, 0, canvas.width, canvas.height);
      }
    }
    state.pointer = '';
    $('aspect-label').hidden = image !== null && !aspectApplies();
    const animated = state.category === 2 && image && state.loaded?.starts;
    for (const id of ['previous', 'play', 'next', 'frame', 'save-gif']) {
      $(id).disabled = !animated;
    }
    $('save-bmp').disabled = $('save-png').disabled = !image;
    $('play').textContent = state.playing ? 'Pause' : 'Play';
    Inspect();
  }

  // The status line: the picture, or the pixel under the mouse; the animation's
  // picture and frame; the zoom.
  function UpdateFacts() {
    const image = state.image;
    $('picture-facts').textContent = !image ? ''
      : state.pointer || `${state.loaded.name} \u00b7 ${image.width}\u00d7${image.height}`;
    const animated = state.category === 2 && image && state.loaded?.starts;
    $('frame-facts').textContent = animated && !state.pointer ? FrameFacts() : '';
    const scale = Scale();
    let zoom = scale >= 1 ? `${Math.round(scale)}\u00d7` : `1/${Math.round(1 / scale)}\u00d7`;
    if ($('zoom').value === 'fit') {
      zoom = `Fit ${zoom}`;
    }
    if (Stretch() !== 1) {
      zoom += ' \u00b7 6:5';
    }
    $('zoom-facts').textContent = image ? zoom : '';
  }

  function FrameFacts() {
    const { starts, firstFrames, fileFrames, pictures } = state.loaded;
    const picture = state.picture;
    const milliseconds = Math.round(starts[picture + 1] - starts[picture]);
    return `picture ${picture + 1}/${pictures} \u00b7 frame ${firstFrames[picture]}/${fileFrames}`
      + ` \u00b7 ${milliseconds} ms`;
  }

  // The pixel under the mouse as the file holds it, at any zoom and turn: column
  // and row, palette index, and colour in 8-bit RGB and as the file's 6-bit levels.
  const level = (value) => (value === 255 ? '64+' : String(value >> 2));
  function Inspect() {
    const image = state.image;
    state.pointer = '';
    state.marked = -1;
    if (image && state.indexed && state.hover) {
      const x = Math.floor(state.hover.x / Scale());
      const y = Math.floor(state.hover.y / (Scale() * Stretch()));
      if (x >= 0 && y >= 0 && x < image.width && y < image.height) {
        const index = state.indexed[y * image.width + x];
        state.marked = index;
        const [red, green, blue] = state.indexed.subarray(image.width * image.height + index * 3);
        // A turned wall's pixel is named where the file has it.
        const turned = state.category === 0 && state.loaded?.rotated;
        const [column, row] = turned ? [y, image.width - 1 - x] : [x, y];
        state.pointer = `${column}, ${row} \u00b7 index ${index} \u00b7 RGB ${red} ${green} ${blue}`
          + ` \u00b7 6-bit ${level(red)} ${level(green)} ${level(blue)}`;
      }
    }
    UpdateFacts();
    DrawPalette();
  }
  canvas.addEventListener('mousemove', (event) => {
    state.hover = { x: event.offsetX, y: event.offsetY };
    Inspect();
  });
  canvas.addEventListener('mouseleave', () => {
    state.hover = null;
    Inspect();
  });

  // Grey laid over every pixel but those of the chosen index, which then stand out
  // in their own colour, dark or light.
  function Highlight() {
    const { width, height } = state.image;
    const overlay = new ImageData(width, height);
    for (let i = 0; i < width * height; ++i) {
      if (state.indexed[i] !== state.chosen) {
        overlay.data.set([128, 128, 128, 210], i * 4);
      }
    }
    const layer = Object.assign(document.createElement('canvas'), { width, height });
    layer.getContext('2d').putImageData(overlay, 0, 0);
    return layer;
  }

  // The 256 colours on show as a 16 x 16 grid, the index under the mouse marked and
  // the chosen one framed.
  const palette = $('palette');
  const cell = palette.width / 16;
  function DrawPalette() {
    const context = palette.getContext('2d');
    context.clearRect(0, 0, palette.width, palette.height);
    if (!state.image || !state.indexed) {
      $('palette-facts').textContent = '';
      return;
    }
    const colours = state.indexed.subarray(state.image.width * state.image.height);
    for (let index = 0; index < 256; ++index) {
      const [red, green, blue] = colours.subarray(index * 3);
      context.fillStyle = `rgb(${red} ${green} ${blue})`;
      context.fillRect((index % 16) * cell, Math.floor(index / 16) * cell, cell, cell);
    }
    for (const [index, colour, width] of [[state.marked, '#fff', 2], [state.chosen, '#f0f', 3]]) {
      if (index >= 0) {
        context.lineWidth = width;
        context.strokeStyle = colour;
        context.strokeRect((index % 16) * cell + 1, Math.floor(index / 16) * cell + 1, cell - 2, cell - 2);
      }
    }
    const shown = state.chosen >= 0 ? state.chosen : state.marked;
    if (shown >= 0) {
      const [red, green, blue] = colours.subarray(shown * 3);
      $('palette-facts').textContent = `index ${shown} \u00b7 RGB ${red} ${green} ${blue}`
        + ` \u00b7 6-bit ${level(red)} ${level(green)} ${level(blue)}`;
    } else {
      $('palette-facts').textContent = '';
    }
  }
  const Choose = (index) => {
    state.chosen = index === state.chosen ? -1 : index;
    Draw();
  };
  palette.addEventListener('click', (event) => {
    if (state.image && state.indexed) {
      Choose(Math.floor(event.offsetY / cell) * 16 + Math.floor(event.offsetX / cell));
    }
  });
  palette.addEventListener('keydown', (event) => {
    const step = { ArrowLeft: -1, ArrowRight: 1, ArrowUp: -16, ArrowDown: 16 }[event.key];
    if (step !== undefined && state.indexed) {
      event.preventDefault();
      state.chosen = ((state.chosen < 0 ? 0 : state.chosen + step) + 256) % 256;
      Draw();
    } else if (event.key === 'Escape' || event.key === 'Enter') {
      Choose(state.chosen);
    }
  });

  $('zoom').addEventListener('change', Draw);
  $('aspect').addEventListener('change', Draw);
  new ResizeObserver(() => {
    if ($('zoom').value === 'fit') {
      Draw();
    }
  }).observe(box);

  const Step = (by) => {
    Stop();
    const count = state.loaded.pictures;
    Show((state.picture + by + count) % count);
  };
  $('previous').addEventListener('click', () => Step(-1));
  $('next').addEventListener('click', () => Step(1));
  $('frame').addEventListener('input', (event) => {
    Stop();
    Show(Number(event.target.value) - 1);
  });
  $('play').addEventListener('click', () => (state.playing ? Stop() : Play()));
  box.addEventListener('keydown', (event) => {
    if (!state.loaded?.starts) {
      return;
    }
    if (event.key === ' ') {
      event.preventDefault();
      state.playing ? Stop() : Play();
    } else if (event.key === 'ArrowLeft' || event.key === 'ArrowRight') {
      event.preventDefault();
      Step(event.key === 'ArrowLeft' ? -1 : 1);
    }
  });

  // The picture due at playback time: the one whose span holds it within the loop.
  function PictureAt(time) {
    const { starts } = state.loaded;
    const loop = starts[starts.length - 1];
    const within = loop > 0 ? time % loop : 0;
    let low = 0;
    let high = starts.length - 2;
    while (low < high) {
      const middle = (low + high + 1) >> 1;
      if (starts[middle] <= within) {
        low = middle;
      } else {
        high = middle - 1;
      }
    }
    return low;
  }

  // Playback time is read from the monotonic clock at every frame of the screen,
  // so a late frame never delays the pictures after it.
  function Play() {
    if (!state.loaded?.starts || state.loaded.pictures < 2) {
      return;
    }
    state.playing = true;
    state.origin = performance.now() - state.loaded.starts[state.picture];
    const token = state.token;
    const tick = () => {
      if (!state.playing || token !== state.token) {
        return;
      }
      const due = PictureAt(performance.now() - state.origin);
      if (due !== state.picture && state.showing === null) {
        Show(due);
      }
      requestAnimationFrame(tick);
    };
    requestAnimationFrame(tick);
    Draw();
  }

  function Stop() {
    if (state.playing) {
      state.playing = false;
      Draw();
    }
  }

  async function Save(format) {
    const { answer, bytes } = await ask('file', { format });
    if (answer.error) {
      tell(`The image was not saved.\n\n${answer.error}`);
      return;
    }
    const link = document.createElement('a');
    link.href = URL.createObjectURL(new Blob([bytes], {
      type: { bmp: 'image/bmp', png: 'image/png', gif: 'image/gif' }[format] }));
    link.download = answer.name;
    document.body.append(link);
    link.click();
    link.remove();
    setTimeout(() => URL.revokeObjectURL(link.href), 60000);
  }
  $('save-bmp').addEventListener('click', () => Save('bmp'));
  $('save-png').addEventListener('click', () => Save('png'));
  $('save-gif').addEventListener('click', () => Save('gif'));

  FillList();
  Draw();
}
