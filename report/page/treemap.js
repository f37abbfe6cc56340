// The page of quorvel -html: the tree the program wrote into the page as data, drawn as a
// squarified treemap (Bruls, Huizing and van Wijk, 2000). Each directory is a rectangle whose
// area is in proportion to its total, framed inside its parent under a strip with its name; the
// part of a parent no child covers is its own files. When the tree holds its files, the largest
// are tiles of their own inside their directory, coloured by type. A click zooms into a
// directory, the path above leads back, and the panel lists the largest directories of the view.
//
// Names are data, never markup: they reach the page only through textContent and attributes
// (the page's policy refuses every HTML sink outright).
"use strict";

(function () {
  const SVG = "http://www.w3.org/2000/svg";
  const STRIP = 16; // height of the strip that carries a directory's name
  const MIN_SIDE = 4; // a rectangle narrower or lower than this many pixels is not drawn
  const LABEL_WIDTH = 36; // narrower rectangles get no name
  const TABLE_ROWS = 20;

  const data = JSON.parse(document.getElementById("tree-data").textContent);
  // One entry per directory in pre-order: name, depth below the start directory, total bytes,
  // own bytes, wasted bytes, files. The start directory's name is its full path.
  const names = data.n;
  const depths = data.d;
  const totals = data.t;
  const owns = data.o;
  const wastes = data.w;
  const files = data.f;
  const count = names.length;
  const merged = new Uint8Array(count);
  for (const i of data.m) merged[i] = 1;
  // With a saved scan to compare with: each directory's growth in bytes and its change
  // (0 there before and now, 1 new, 2 gone, 3 moved here from elsewhere).
  const growths = data.g || null;
  const changes = data.c || null;
  const CHANGE_NEW = 1;
  const CHANGE_GONE = 2;
  const CHANGE_MOVED = 3;
  // The files large enough to be drawn (the program wrote those of at least 1/2,000 of the
  // start directory's total, when the tree held its files): name, size and directory.
  const fileNames = data.fn || [];
  // With -since: the largest new files, the files that grew most, the largest files gone.
  const fileChanges = data.cf || [];
  const fileSizes = data.fs || [];
  const fileDirs = data.fd || [];
  const filesOf = new Map(); // directory to its drawn files, largest first
  fileNames.forEach((_, k) => {
    if (!filesOf.has(fileDirs[k])) filesOf.set(fileDirs[k], []);
    filesOf.get(fileDirs[k]).push(k);
  });
  for (const list of filesOf.values()) list.sort((a, b) => fileSizes[b] - fileSizes[a] || a - b);

  // The shape of the tree from the depths: each directory's parent, children, and the index
  // just past its subtree (its descendants are the indices between).
  const parents = new Int32Array(count);
  const subtreeEnds = new Int32Array(count);
  const children = new Array(count);
  {
    const stack = [];
    for (let i = 0; i < count; i++) {
      const d = Math.min(depths[i], stack.length);
      while (stack.length > d) subtreeEnds[stack.pop()] = i;
      parents[i] = d > 0 ? stack[d - 1] : -1;
      children[i] = null;
      if (d > 0) {
        const p = parents[i];
        if (children[p] === null) children[p] = [];
        children[p].push(i);
      }
      stack.push(i);
    }
    while (stack.length) subtreeEnds[stack.pop()] = count;
  }

  const svg = document.getElementById("map");
  const stage = document.getElementById("stage");
  const tip = document.getElementById("tip");
  const elementNode = new WeakMap(); // drawn <g> to its directory
  const fileElement = new WeakMap(); // drawn file's <g> to its file
  const measure = document.createElement("canvas").getContext("2d");
  let view = 0; // the directory that fills the map
  let hovered = null;

  // ---- Texts ---------------------------------------------------------------------------

  // Bytes as -units writes them: "512 B" below 1,024, else one decimal in the first unit of
  // 1,024 whose figure stays below 1024.0 once rounded half to even.
  function units(value) {
    const sign = value < 0 ? "-" : "";
    const v = BigInt(Math.abs(value));
    if (v < 1024n) return sign + v + " B";
    let tenths = 0n;
    let unit = 0;
    for (; unit < 6; unit++) {
      const shift = BigInt(10 * (unit + 1));
      const divisor = 1n << shift;
      const scaled = (v & (divisor - 1n)) * 10n;
      tenths = (v >> shift) * 10n + scaled / divisor;
      const rest = scaled % divisor;
      if (rest * 2n > divisor || (rest * 2n === divisor && tenths % 2n === 1n)) tenths++;
      if (tenths < 10240n) break;
    }
    if (unit === 6) unit = 5;
    return sign + tenths / 10n + "." + (tenths % 10n) + " " + "KMGTPE"[unit];
  }

  function thousands(value) {
    const digits = String(Math.abs(value)).replace(/\B(?=(\d{3})+(?!\d))/g, () => data.thousands);
    return (value < 0 ? "-" : "") + digits;
  }

  // part of whole in whole percent, rounded half to even, as the report's wastage column.
  function percent(part, whole) {
    if (whole === 0) return "0%";
    const x = (part * 100) / whole;
    const floor = Math.floor(x);
    const diff = x - floor;
    const r = diff > 0.5 || (diff === 0.5 && floor % 2 !== 0) ? floor + 1 : floor;
    return (r >= 100 ? 100 : r) + "%";
  }

  function shownName(i) {
    return merged[i] ? names[i] + " ..." : names[i];
  }

  // The directory's path below the start directory, names joined with "/" ("" for the start
  // directory itself): its data-path.
  const paths = new Array(count);
  function pathOf(i) {
    if (paths[i] !== undefined) return paths[i];
    const chain = [];
    let j = i;
    while (j > 0 && paths[j] === undefined) {
      chain.push(j);
      j = parents[j];
    }
    let path = j > 0 ? paths[j] : "";
    for (let k = chain.length - 1; k >= 0; k--) {
      const c = chain[k];
      path = path === "" ? names[c] : path + "/" + names[c];
      paths[c] = path;
    }
    paths[0] = "";
    return paths[i];
  }

  // The path of i below the directory `from`, with the platform's separator.
  function relativePath(i, from) {
    const chain = [];
    for (let j = i; j !== from && j > 0; j = parents[j]) chain.push(names[j]);
    return chain.reverse().join(data.separator);
  }

  // The full path as the platform spells it.
  function fullPath(i) {
    if (i === 0) return names[0];
    const root = names[0];
    const glue = root.endsWith(data.separator) ? "" : data.separator;
    return root + glue + relativePath(i, 0);
  }

  function signed(value) {
    return (value > 0 ? "+" : "") + units(value);
  }

  function growthText(i) {
    if (changes[i] === CHANGE_NEW) return "new, " + units(growths[i]);
    if (changes[i] === CHANGE_GONE) return "gone, " + units(growths[i]);
    if (changes[i] === CHANGE_MOVED) {
      return growths[i] === 0 ? "moved" : "moved, " + signed(growths[i]);
    }
    if (growths[i] === 0) return "unchanged";
    return signed(growths[i]);
  }

  function titleText(i) {
    let text = shownName(i) + " \u2014 " + units(totals[i]);
    if (growths) text += " (" + growthText(i) + ")";
    return text;
  }

  // ---- Colours -------------------------------------------------------------------------

  // One colour a level, neighbours far apart on the wheel; past the last the levels below
  // the start directory take them again.
  const DEPTH_COLOURS = [
    "hsl(210 30% 88%)",
    "hsl(210 55% 74%)",
    "hsl(35 72% 74%)",
    "hsl(140 38% 70%)",
    "hsl(280 36% 78%)",
    "hsl(95 45% 72%)",
    "hsl(335 48% 80%)",
    "hsl(180 38% 70%)",
    "hsl(55 62% 72%)",
  ];
  function depthColour(d) {
    return DEPTH_COLOURS[d === 0 ? 0 : 1 + ((d - 1) % (DEPTH_COLOURS.length - 1))];
  }

  const GROWTH_COLOURS = {
    grew: "hsl(2 72% 58%)",
    shrank: "hsl(205 68% 52%)",
    fresh: "hsl(42 95% 55%)",
    moved: "hsl(285 42% 66%)",
    same: "hsl(210 12% 86%)",
    gone: "hsl(210 8% 62%)",
  };

  // Red for growth, blue for shrinking, deeper the larger the share of the directory that
  // changed; amber for new directories, violet for moved ones, grey for unchanged ones.
  function growthColour(i) {
    if (changes[i] === CHANGE_NEW) return GROWTH_COLOURS.fresh;
    if (changes[i] === CHANGE_GONE) return GROWTH_COLOURS.gone;
    if (changes[i] === CHANGE_MOVED) return GROWTH_COLOURS.moved;
    const g = growths[i];
    if (g === 0) return GROWTH_COLOURS.same;
    const base = g > 0 ? totals[i] : totals[i] - g;
    const share = Math.min(1, Math.abs(g) / Math.max(1, base));
    const light = Math.round(86 - 34 * Math.sqrt(share));
    return g > 0 ? "hsl(2 72% " + light + "%)" : "hsl(205 68% " + light + "%)";
  }

  function colourOf(i) {
    return growths ? growthColour(i) : depthColour(depths[i]);
  }

  // Files by type, from the extension: the families and their colours, others last.
  const FILE_TYPES = [
    ["archives", "hsl(32 42% 46%)",
      "zip tar gz tgz bz2 xz zst 7z rar lz lzma lz4 cab deb rpm apk iso img dmg jar war whl jmod " +
      "snap squashfs"],
    ["images", "hsl(320 52% 64%)",
      "png jpg jpeg gif bmp tif tiff webp svg svgz ico icns heic heif avif raw cr2 nef dng " +
      "psd xcf"],
    ["video", "hsl(255 45% 64%)", "mp4 m4v mkv avi mov webm wmv flv mpg mpeg ogv 3gp vob"],
    ["audio", "hsl(188 60% 46%)", "mp3 flac wav ogg oga opus m4a aac wma aif aiff mid midi"],
    ["documents", "hsl(50 80% 54%)",
      "pdf ps eps doc docx odt ods odp xls xlsx ppt pptx rtf txt md rst tex epub djvu chm htm " +
      "html csv tsv"],
    ["code", "hsl(128 40% 50%)",
      "c h cc cpp cxx hh hpp hxx py pyc pyi js mjs cjs ts tsx jsx java class go rs rb pl pm php " +
      "sh lua cs swift kt scala el elc json xml yaml yml toml css scss sql s asm ipynb"],
    ["executables and libraries", "hsl(14 80% 56%)",
      "so a o lib dll exe com sys ko dylib pyd node wasm msi bin elf"],
    ["others", "hsl(215 12% 60%)", ""],
  ];
  const OTHERS = FILE_TYPES.length - 1;
  const EXECUTABLES = OTHERS - 1;
  const typeOfExtension = new Map();
  FILE_TYPES.forEach(([, , list], t) => {
    for (const e of list.split(" ")) if (e) typeOfExtension.set(e, t);
  });
  // A trailing version ("libz.so.1.2.13", "python3.11") is no extension; a file without one in
  // a bin, sbin or libexec directory is a program.
  function typeOfFile(k) {
    const name = fileNames[k].toLowerCase().replace(/(\.\d+)+$/, "");
    const dot = name.lastIndexOf(".");
    if (dot > 0) {
      const t = typeOfExtension.get(name.slice(dot + 1));
      return t === undefined ? OTHERS : t;
    }
    const d = fileDirs[k];
    const dir = d > 0 ? names[d] : names[0].split(/[\\/]/).filter(Boolean).pop() || "";
    return /^(s?bin|libexec)$/.test(dir) ? EXECUTABLES : OTHERS;
  }
  const fileTypes = fileNames.map((_, k) => typeOfFile(k));

  // By type; with a saved scan, a file in a new or moved directory is coloured as its directory.
  function fileColour(k) {
    const d = fileDirs[k];
    const inChanged = growths && (changes[d] === CHANGE_NEW || changes[d] === CHANGE_MOVED);
    if (inChanged) return growthColour(d);
    return FILE_TYPES[fileTypes[k]][1];
  }

  // ---- Layout --------------------------------------------------------------------------

  // Squarified layout: items with their areas (largest first, summing to the rectangle's
  // area) are laid in rows along the rectangle's shorter side; a row takes one more item for
  // as long as that makes its worst aspect ratio no worse. place(item, x, y, w, h) for each.
  function squarify(items, areas, x, y, w, h, place) {
    const n = items.length;
    let start = 0;
    while (start < n && w > 0 && h > 0) {
      const side = Math.min(w, h);
      const side2 = side * side;
      let end = start;
      let sum = 0;
      let smallest = Infinity;
      let largest = 0;
      let worst = Infinity;
      while (end < n) {
        const a = areas[end];
        const s = sum + a;
        const lo = Math.min(smallest, a);
        const hi = Math.max(largest, a);
        const ratio = Math.max((side2 * hi) / (s * s), (s * s) / (side2 * lo));
        if (end > start && ratio > worst) break;
        sum = s;
        smallest = lo;
        largest = hi;
        worst = ratio;
        end++;
      }
      if (w >= h) {
        const across = Math.min(w, sum / h);
        let at = y;
        for (let k = start; k < end; k++) {
          const along = areas[k] / across;
          place(items[k], x, at, across, along);
          at += along;
        }
        x += across;
        w -= across;
      } else {
        const across = Math.min(h, sum / w);
        let at = x;
        for (let k = start; k < end; k++) {
          const along = areas[k] / across;
          place(items[k], at, y, along, across);
          at += along;
        }
        y += across;
        h -= across;
      }
      start = end;
    }
  }

  // What the inside of i holds: the children that have bytes and its drawn files, largest
  // first (ties: directories first, in the report's order), and the bytes of i that neither
  // holds: its other files and what was merged into it. An item is a directory's index, or
  // FILE - k for file k.
  const FILE = -2;
  function itemSize(c) {
    return c >= 0 ? totals[c] : fileSizes[FILE - c];
  }
  function layoutItems(i) {
    const kids = (children[i] || []).filter((c) => totals[c] > 0);
    kids.sort((a, b) => totals[b] - totals[a] || a - b);
    const items = kids.slice();
    let at = 0;
    for (const k of filesOf.get(i) || []) {
      while (at < items.length && itemSize(items[at]) >= fileSizes[k]) at++;
      items.splice(at, 0, FILE - k);
    }
    let sum = 0;
    for (const c of items) sum += itemSize(c);
    return { items: items, rest: Math.max(0, totals[i] - sum), sum: sum };
  }

  function fit(text, width) {
    if (measure.measureText(text).width <= width) return text;
    let lo = 0;
    let hi = text.length;
    while (lo < hi) {
      const mid = (lo + hi + 1) >> 1;
      if (measure.measureText(text.slice(0, mid) + "\u2026").width <= width) lo = mid;
      else hi = mid - 1;
    }
    return lo > 0 ? text.slice(0, lo) + "\u2026" : "";
  }

  function svgElement(tag, attributes) {
    const e = document.createElementNS(SVG, tag);
    for (const key in attributes) e.setAttribute(key, attributes[key]);
    return e;
  }

  function px(v) {
    return String(Math.round(v * 100) / 100);
  }

  // Draws directory i in the rectangle and, inside its frame, the children that are large
  // enough to see.
  function draw(i, x, y, w, h, into) {
    const g = svgElement("g", { "data-path": pathOf(i) });
    const title = svgElement("title", {});
    title.textContent = titleText(i);
    g.appendChild(title);
    g.appendChild(svgElement("rect", { x: px(x), y: px(y), width: px(w), height: px(h), fill: colourOf(i) }));
    elementNode.set(g, i);
    into.appendChild(g);

    const items = layoutItems(i);
    const roomy = w >= LABEL_WIDTH && h >= STRIP + (items.items.length ? 2 * MIN_SIDE : 0);
    if (roomy) {
      g.appendChild(svgElement("rect", { class: "strip", x: px(x), y: px(y), width: px(w), height: STRIP }));
      const label = svgElement("text", { x: px(x + 4), y: px(y + STRIP - 4) });
      let text = shownName(i) + "  " + units(totals[i]);
      if (measure.measureText(text).width > w - 8) text = fit(shownName(i), w - 8);
      label.textContent = text;
      g.appendChild(label);
    }
    if (!items.items.length) return;
    const pad = roomy ? 2 : 1;
    const ix = x + pad;
    const iy = y + (roomy ? STRIP : pad);
    const iw = w - 2 * pad;
    const ih = h - (roomy ? STRIP : pad) - pad;
    if (iw < MIN_SIDE || ih < MIN_SIDE) return;
    const whole = items.sum + items.rest;
    const scale = (iw * ih) / whole;
    const order = items.items;
    const areas = order.map((c) => itemSize(c) * scale);
    if (items.rest > 0) {
      // The parent's other bytes take their place in the order of sizes, as one more item.
      let at = 0;
      while (at < order.length && itemSize(order[at]) >= items.rest) at++;
      order.splice(at, 0, -1);
      areas.splice(at, 0, items.rest * scale);
    }
    squarify(order, areas, ix, iy, iw, ih, (c, cx, cy, cw, ch) => {
      if (cw < MIN_SIDE || ch < MIN_SIDE) return;
      if (c >= 0) draw(c, cx, cy, cw, ch, g);
      else if (c <= FILE) drawFile(FILE - c, cx, cy, cw, ch, g);
    });
  }

  function filePath(k) {
    const d = fileDirs[k];
    return d > 0 ? pathOf(d) + "/" + fileNames[k] : fileNames[k];
  }

  function fileTitle(k) {
    let text = fileNames[k] + " \u2014 " + units(fileSizes[k]);
    const d = fileDirs[k];
    if (growths && changes[d] === CHANGE_NEW) text += " (new)";
    if (growths && changes[d] === CHANGE_MOVED) text += " (moved)";
    return text;
  }

  // A file's tile, with its name where there is room.
  function drawFile(k, x, y, w, h, into) {
    const g = svgElement("g", { "data-file": filePath(k), class: "file" });
    const title = svgElement("title", {});
    title.textContent = fileTitle(k);
    g.appendChild(title);
    const box = { x: px(x), y: px(y), width: px(w), height: px(h), fill: fileColour(k) };
    g.appendChild(svgElement("rect", box));
    if (w >= LABEL_WIDTH && h >= STRIP) {
      const label = svgElement("text", { x: px(x + 4), y: px(y + STRIP - 4) });
      let text = fileNames[k] + "  " + units(fileSizes[k]);
      if (measure.measureText(text).width > w - 8) text = fit(fileNames[k], w - 8);
      label.textContent = text;
      g.appendChild(label);
    }
    fileElement.set(g, k);
    into.appendChild(g);
  }

  // ---- The view ------------------------------------------------------------------------

  let drawnSize = "";
  function render() {
    const w = stage.clientWidth;
    const h = stage.clientHeight;
    drawnSize = w + "x" + h;
    const font = getComputedStyle(svg);
    measure.font = font.fontSize + " " + font.fontFamily;
    const layer = document.createDocumentFragment();
    if (w >= MIN_SIDE && h >= MIN_SIDE) draw(view, 0, 0, w, h, layer);
    svg.replaceChildren(layer);
    hovered = null;
  }

  function button(text, onPress) {
    const b = document.createElement("button");
    b.type = "button";
    b.textContent = text;
    b.addEventListener("click", onPress);
    return b;
  }

  function showPath() {
    const nav = document.getElementById("crumbs");
    const chain = [];
    for (let j = view; j >= 0; j = parents[j]) chain.push(j);
    chain.reverse();
    const parts = [];
    chain.forEach((j, k) => {
      if (k > 0) {
        const sep = document.createElement("span");
        sep.className = "sep";
        sep.textContent = "\u203a";
        parts.push(sep);
      }
      const b = button(j === 0 ? names[0] : names[j], () => zoom(j));
      b.dataset.path = pathOf(j);
      if (j === view) b.setAttribute("aria-current", "location");
      parts.push(b);
    });
    nav.replaceChildren(...parts);
  }

  // The `limit` directories below the view (not the view itself) that rank first by key,
  // in rank order; ties in the report's order.
  function topBelow(key, keep, limit) {
    const best = [];
    for (let j = view + 1; j < subtreeEnds[view]; j++) {
      if (!keep(j)) continue;
      const k = key(j);
      if (best.length === limit && k <= key(best[limit - 1])) continue;
      let at = best.length;
      while (at > 0 && key(best[at - 1]) < k) at--;
      best.splice(at, 0, j);
      if (best.length > limit) best.pop();
    }
    return best;
  }

  function cell(text, className) {
    const td = document.createElement("td");
    td.textContent = text;
    if (className) td.className = className;
    return td;
  }

  function tableRow(j, cells) {
    const tr = document.createElement("tr");
    tr.tabIndex = 0;
    tr.dataset.path = pathOf(j);
    tr.title = fullPath(j);
    for (const c of cells) tr.appendChild(c);
    tr.addEventListener("click", () => zoom(j));
    tr.addEventListener("keydown", (e) => {
      if (e.key === "Enter" || e.key === " ") {
        e.preventDefault();
        zoom(j);
      }
    });
    return tr;
  }

  // text cut to width so that its end shows, which is what tells paths apart: in the middle,
  // keeping the last name whole, or where even that does not fit, from the left.
  function fitEnd(text, width) {
    const fits = (t) => measure.measureText(t).width <= width;
    if (fits(text)) return text;
    const chars = Array.from(text);
    const cut = chars.lastIndexOf(data.separator);
    const tail = cut > 0 ? chars.slice(cut).join("") : "";
    let shorter = (n) => "\u2026" + chars.slice(chars.length - n).join("");
    let hi = chars.length - 1;
    if (tail && fits("\u2026" + tail)) {
      const front = chars.slice(0, cut);
      shorter = (n) =>
        front.slice(0, Math.ceil(n / 2)).join("") + "\u2026" +
        front.slice(front.length - Math.floor(n / 2)).join("") + tail;
      hi = front.length - 1;
    }
    // The most characters kept that fit.
    let lo = 0;
    while (lo < hi) {
      const mid = (lo + hi + 1) >> 1;
      if (fits(shorter(mid))) lo = mid;
      else hi = mid - 1;
    }
    return shorter(lo);
  }

  // Fills a table of the panel with the rows of `list`, its paths cut to the first column's
  // width; an empty list hides the table.
  function fillTable(table, list, cells) {
    table.hidden = list.length === 0;
    if (table.hidden) return;
    const style = getComputedStyle(table);
    measure.font = style.fontSize + " " + style.fontFamily;
    const width = table.querySelector("th").getBoundingClientRect().width - 9;
    table.tBodies[0].replaceChildren(
      ...list.map((j) => tableRow(j, cells(j, fitEnd(relativePath(j, view), width))))
    );
  }

  let tablesWidth = 0; // the panel's width when its tables were filled
  function showTables() {
    tablesWidth = document.querySelector("aside").clientWidth;
    const largest = topBelow((j) => totals[j], () => true, TABLE_ROWS);
    fillTable(document.getElementById("largest"), largest, (j, path) => [
      cell(path),
      cell(units(totals[j])),
      cell(units(owns[j])),
      cell(thousands(files[j])),
    ]);
    document.getElementById("no-subdirectories").hidden = largest.length > 0;
    if (!growths) return;
    const changed = topBelow(
      (j) => Math.abs(growths[j]),
      (j) => growths[j] !== 0 || changes[j] !== 0,
      TABLE_ROWS
    );
    fillTable(document.getElementById("changes"), changed, (j, path) => [
      cell(path, changes[j] === CHANGE_GONE ? "gone" : ""),
      cell(growthText(j)),
      cell(units(totals[j])),
    ]);
    document.getElementById("no-changes").hidden = largest.length === 0 || changed.length > 0;
    showFileChanges();
  }

  // The files behind the growth of the whole tree, each path cut where it tells files apart.
  function showFileChanges() {
    const table = document.getElementById("file-changes");
    table.hidden = fileChanges.length === 0;
    if (table.hidden) return;
    const style = getComputedStyle(table);
    measure.font = style.fontSize + " " + style.fontFamily;
    const width = table.querySelector("th").getBoundingClientRect().width - 9;
    const words = ["new", "grew", "gone"];
    table.tBodies[0].replaceChildren(
      ...fileChanges.map(([kind, bytes, path]) => {
        const row = document.createElement("tr");
        const name = cell(fitEnd(path, width));
        name.title = path;
        row.append(name, cell(words[kind]), cell((kind === 1 ? "+" : "") + units(bytes)));
        return row;
      })
    );
  }

  function legendItem(colour, text) {
    const item = document.createElement("span");
    item.className = "item";
    const swatch = document.createElement("span");
    swatch.className = "swatch";
    swatch.style.background = colour;
    const label = document.createElement("span");
    label.textContent = text;
    item.append(swatch, label);
    return item;
  }

  function showLegend() {
    const legend = document.getElementById("legend");
    const items = [];
    if (growths) {
      let gone = 0;
      for (let j = view + 1; j < subtreeEnds[view]; j++) if (changes[j] === CHANGE_GONE) gone++;
      items.push(
        legendItem(GROWTH_COLOURS.grew, "grew"),
        legendItem(GROWTH_COLOURS.shrank, "shrank"),
        legendItem(GROWTH_COLOURS.fresh, "new"),
        legendItem(GROWTH_COLOURS.moved, "moved"),
        legendItem(GROWTH_COLOURS.same, "unchanged"),
        legendItem(GROWTH_COLOURS.gone, gone + " gone (no area; listed below)")
      );
    } else {
      const top = depths[view];
      for (let d = top; d < top + 5; d++) {
        items.push(legendItem(depthColour(d), d === 0 ? "start" : "depth " + d));
      }
    }
    // The types of the files drawn in the view.
    const shown = new Set();
    fileDirs.forEach((d, k) => {
      if (d >= view && d < subtreeEnds[view]) shown.add(fileTypes[k]);
    });
    if (shown.size) {
      const head = document.createElement("div");
      head.className = "files";
      head.textContent = "Files:";
      const types = [...shown].sort((a, b) => a - b);
      head.append(...types.map((t) => legendItem(FILE_TYPES[t][1], FILE_TYPES[t][0])));
      items.push(head);
    }
    legend.replaceChildren(...items);
  }

  // The figures of the view: its total, its files and directories with all below it, its
  // growth; the start directory's also say what could not be read.
  function showFacts() {
    let fileCount = data.files;
    const dirs = subtreeEnds[view] - view;
    if (view > 0) {
      fileCount = 0;
      for (let j = view; j < subtreeEnds[view]; j++) fileCount += files[j];
    }
    let text = units(totals[view]) + " in " + thousands(fileCount) +
      (fileCount === 1 ? " file and " : " files and ") + thousands(dirs) +
      (dirs === 1 ? " directory" : " directories");
    if (growths) text += "; growth " + signed(growths[view]);
    if (view === 0 && data.unreadable > 0) {
      text += "; " + thousands(data.unreadable) +
        (data.unreadable === 1 ? " directory" : " directories") +
        " could not be read and count as empty";
    }
    const made = new Date(data.created);
    text += ". Quorvel " + data.version + (isNaN(made) ? "" : ", " + made.toLocaleString()) + ".";
    document.getElementById("facts").textContent = text;
  }

  function zoom(i) {
    if (i < 0 || i >= count) return;
    view = i;
    hideTip();
    render();
    showPath();
    showFacts();
    showTables();
    showLegend();
  }

  // ---- Hover ---------------------------------------------------------------------------

  function fact(list, term, value) {
    const dt = document.createElement("dt");
    dt.textContent = term;
    const dd = document.createElement("dd");
    dd.textContent = value;
    list.append(dt, dd);
  }

  function showTip(i, event) {
    const head = document.createElement("div");
    head.className = "path";
    head.textContent = fullPath(i) + (merged[i] ? " ..." : "");
    const list = document.createElement("dl");
    fact(list, "Total", units(totals[i]) + " (" + thousands(totals[i]) + " bytes)");
    fact(list, "Own files", units(owns[i]));
    if (data.waste) fact(list, "Wasted", units(wastes[i]) + " (" + percent(wastes[i], owns[i]) + ")");
    fact(list, "Files", thousands(files[i]));
    if (growths) fact(list, "Growth", growthText(i));
    const parts = [head, list];
    if (merged[i]) {
      const note = document.createElement("div");
      note.textContent = "Holds the directories below it that are not shown.";
      parts.push(note);
    }
    tip.replaceChildren(...parts);
    tip.hidden = false;
    placeTip(event);
  }

  function showFileTip(k, event) {
    const head = document.createElement("div");
    head.className = "path";
    const dir = fullPath(fileDirs[k]);
    head.textContent = dir + (dir.endsWith(data.separator) ? "" : data.separator) + fileNames[k];
    const list = document.createElement("dl");
    fact(list, "Size", units(fileSizes[k]) + " (" + thousands(fileSizes[k]) + " bytes)");
    fact(list, "Type", FILE_TYPES[fileTypes[k]][0]);
    tip.replaceChildren(head, list);
    tip.hidden = false;
    placeTip(event);
  }

  // Above and to the left of the pointer where there is room, so that the browser's own
  // tooltip (the <title>) does not cover it.
  function placeTip(event) {
    const r = tip.getBoundingClientRect();
    let left = event.clientX + 14;
    let top = event.clientY - r.height - 14;
    if (left + r.width > window.innerWidth - 4) left = Math.max(4, event.clientX - r.width - 14);
    if (top < 4) top = Math.min(window.innerHeight - r.height - 4, event.clientY + 20);
    tip.style.left = left + "px";
    tip.style.top = top + "px";
  }

  function hideTip() {
    tip.hidden = true;
    if (hovered) hovered.classList.remove("hover");
    hovered = null;
  }

  function drawnAt(target) {
    const g = target instanceof Element ? target.closest("g[data-path]") : null;
    return g && elementNode.has(g) ? g : null;
  }

  svg.addEventListener("mousemove", (event) => {
    const file = event.target instanceof Element ? event.target.closest("g[data-file]") : null;
    const g = file && fileElement.has(file) ? file : drawnAt(event.target);
    if (!g) {
      hideTip();
      return;
    }
    if (g !== hovered) {
      if (hovered) hovered.classList.remove("hover");
      hovered = g;
      g.classList.add("hover");
      if (g === file) showFileTip(fileElement.get(g), event);
      else showTip(elementNode.get(g), event);
    } else {
      placeTip(event);
    }
  });
  svg.addEventListener("mouseleave", hideTip);
  svg.addEventListener("click", (event) => {
    const g = drawnAt(event.target);
    if (g) zoom(elementNode.get(g));
  });
  document.addEventListener("keydown", (event) => {
    if (event.key !== "Backspace" && event.key !== "Escape") return;
    if (event.altKey || event.ctrlKey || event.metaKey) return;
    event.preventDefault();
    if (parents[view] >= 0) zoom(parents[view]);
  });

  // The map follows the window: a new size draws the view again.
  let pending = false;
  new ResizeObserver(() => {
    if (pending) return;
    pending = true;
    requestAnimationFrame(() => {
      pending = false;
      if (stage.clientWidth + "x" + stage.clientHeight !== drawnSize) render();
      if (document.querySelector("aside").clientWidth !== tablesWidth) showTables();
    });
  }).observe(stage);

  document.title = names[0] + " \u2014 Quorvel";
  zoom(0);
  // When the first view has been drawn, in milliseconds since the page began to load.
  requestAnimationFrame(() =>
    setTimeout(() => {
      document.body.dataset.drawnMs = String(Math.round(performance.now()));
    }, 0)
  );
})();
