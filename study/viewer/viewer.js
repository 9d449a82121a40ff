// The study's image viewer. view/index.js assigns window.veltranoView: per
// image its size, the folder of its PNGs, the bit rates its schemes share,
// notes, and per scheme the points (setting, bytes, bpp, PSNR, windowed SSIM,
// Butteraugli, file). Images load lazily, a reduced preview first where
// there is one. Panes are canvases: every pane draws the same part of the
// image at the same zoom, pixels as sharp blocks from 1:1 on. The difference
// from the original is made by the canvas's own compositing (|a - b|, then
// doubled twice with saturation), since a page opened from file:// may not
// read the pixels of its images.
(function () {
  'use strict';

  const data = window.veltranoView;
  const $ = (id) => document.getElementById(id);

  function fatal(text) {
    const box = document.createElement('div');
    box.id = 'fatal';
    box.textContent = text;
    document.body.insertBefore(box, $('panes'));
  }

  if (!data || !Array.isArray(data.images)) {
    fatal('The index of the decoded images, view/index.js, is missing or damaged. This page shows the images '
          + 'that "ftjpeg rd --view" writes beside it; keep viewer.html together with its view folder.');
    return;
  }
  if (data.images.length === 0) {
    fatal('The study measured no image, so there is nothing to show.');
    return;
  }

  const ORIGINAL = '\u0000original';
  const ZOOMS = [1 / 32, 1 / 16, 1 / 8, 1 / 4, 1 / 2, 1, 2, 4, 8];
  const MAX_ZOOM = 8;
  const CACHE_PIXELS = 400e6;

  const state = {
    image: 0,
    rate: 0,
    pin: null,            // {scheme, setting}: the point a link asked for, until the rate moves
    mode: 'two',
    left: null,
    right: null,
    fit: true,
    scale: 1,
    cx: 0,
    cy: 0,
    split: 0.5,
    original: false,
    difference: false,
  };

  // ---- the index --------------------------------------------------------

  function image() { return data.images[state.image]; }

  function finite(value) { return typeof value === 'number' && isFinite(value); }

  function usablePoints(entry) {
    return entry.points.filter((point) => finite(point.bpp) && point.bpp > 0);
  }

  function schemeEntry(name) {
    return image().schemes.find((entry) => entry.name === name) || null;
  }

  // The point of a scheme nearest to the rate, on a logarithmic scale.
  function nearestPoint(entry) {
    const points = usablePoints(entry);
    if (state.pin && state.pin.scheme === entry.name) {
      const pinned = points.find((point) => point.setting === state.pin.setting);
      if (pinned) return pinned;
    }
    let best = null;
    let distance = Infinity;
    for (const point of points) {
      const d = Math.abs(Math.log(point.bpp) - Math.log(state.rate));
      if (d < distance) { best = point; distance = d; }
    }
    return best;
  }

  function schemeRange(entry) {
    const rates = usablePoints(entry).map((point) => point.bpp);
    return rates.length ? [Math.min(...rates), Math.max(...rates)] : null;
  }

  function fileUrl(folder, file) {
    return (folder + '/' + file).split('/').map(encodeURIComponent).join('/');
  }

  function previewUrl(folder, file) {
    return fileUrl(folder + '/preview', file);
  }

  // What one side of a pane shows: a picture (full and preview URLs,
  // caption) or a message saying why there is none.
  function source(name) {
    const img = image();
    if (!img.folder) {
      return { message: 'The decoded images of ' + img.name + ' were not kept: its shard of the study ran '
                        + 'without --view.', caption: name === ORIGINAL ? 'original' : name };
    }
    if (name === ORIGINAL || state.original) {
      return {
        file: img.folder + '/' + img.original,
        full: fileUrl(img.folder, img.original),
        preview: img.preview > 1 ? previewUrl(img.folder, img.original) : null,
        caption: 'original, ' + img.width + '\u00d7' + img.height,
        original: true,
      };
    }
    const entry = schemeEntry(name);
    if (!entry) return { message: name + ' is not a scheme of this image.', caption: name };
    if (entry.failure) return { message: name + ' failed on this image: ' + entry.failure, caption: name };
    const point = nearestPoint(entry);
    if (!point) return { message: name + ' has no point with a bit rate on this image.', caption: name };
    const range = schemeRange(entry);
    const outside = state.rate < range[0] * 0.999 || state.rate > range[1] * 1.001;
    return {
      file: img.folder + '/' + point.file,
      full: fileUrl(img.folder, point.file),
      preview: img.preview > 1 ? previewUrl(img.folder, point.file) : null,
      caption: describe(name, point),
      warning: outside ? name + ' reaches only ' + rateText(range[0]) + ' to ' + rateText(range[1]) + ' bpp' : '',
      point: point,
    };
  }

  function number(value, digits) {
    if (value === 'inf') return '\u221e';
    return finite(value) ? value.toFixed(digits) : '\u2013';
  }

  function rateText(bpp) { return bpp.toFixed(bpp < 1 ? 3 : 2); }

  function describe(name, point) {
    return name + ' ' + point.setting + ': ' + point.bpp.toFixed(4) + ' bpp, ' + number(point.psnr, 2)
      + ' dB, SSIM ' + number(point.ssim, 4) + ', Butteraugli ' + number(point.butteraugli, 3);
  }

  // ---- images, loaded lazily and kept within a budget ---------------------

  const cache = new Map();
  let pendingLoads = 0;

  function request(url) {
    let entry = cache.get(url);
    if (entry) {
      cache.delete(url);
      cache.set(url, entry);
      return entry;
    }
    entry = { image: new Image(), status: 'loading' };
    pendingLoads += 1;
    entry.image.onload = () => { entry.status = 'ok'; pendingLoads -= 1; schedule(); };
    entry.image.onerror = () => { entry.status = 'error'; pendingLoads -= 1; schedule(); };
    entry.image.src = url;
    cache.set(url, entry);
    return entry;
  }

  function trimCache(inUse) {
    let pixels = 0;
    for (const entry of cache.values()) pixels += entry.image.naturalWidth * entry.image.naturalHeight;
    for (const [url, entry] of cache) {
      if (pixels <= CACHE_PIXELS) break;
      if (inUse.has(url) || entry.status === 'loading') continue;
      pixels -= entry.image.naturalWidth * entry.image.naturalHeight;
      entry.image.src = '';
      cache.delete(url);
    }
  }

  // The picture to draw for a source at a scale, and whether it is final:
  // the preview while it suffices or the full image is on its way.
  function picture(src, scale, inUse) {
    const img = image();
    const previewEnough = src.preview && scale <= 1 / img.preview + 1e-9;
    if (previewEnough) {
      inUse.add(src.preview);
      const preview = request(src.preview);
      if (preview.status === 'ok') return { image: preview.image, done: true };
      if (preview.status === 'error') return { error: src.file.replace(/[^/]*$/, 'preview/$&') };
      return { loading: true };
    }
    inUse.add(src.full);
    const full = request(src.full);
    if (full.status === 'ok') return { image: full.image, done: true };
    if (full.status === 'error') return { error: src.file };
    if (src.preview) {
      inUse.add(src.preview);
      const preview = request(src.preview);
      if (preview.status === 'ok') return { image: preview.image, loading: true };
    }
    return { loading: true };
  }

  // ---- geometry -----------------------------------------------------------

  // The largest scale that shows the whole image; whole from 1 on, so that
  // enlarged pixels stay equal blocks.
  function fitScale(width, height) {
    const img = image();
    const scale = Math.min(width / img.width, height / img.height, MAX_ZOOM);
    return scale >= 1 ? Math.floor(scale) : scale;
  }

  // Where image pixel (0, 0) lands in a view and how large a pixel is; the
  // offset is whole so that pixels from 1:1 on fall on whole screen pixels.
  function transform(width, height) {
    const img = image();
    const scale = state.fit ? fitScale(width, height) : state.scale;
    const cx = state.fit ? img.width / 2 : state.cx;
    const cy = state.fit ? img.height / 2 : state.cy;
    return { scale: scale, x: Math.round(width / 2 - cx * scale), y: Math.round(height / 2 - cy * scale) };
  }

  function currentScale() {
    const view = document.querySelector('.view');
    return view ? transform(view.clientWidth, view.clientHeight).scale : 1;
  }

  // Leaves fit mode keeping what is shown.
  function unfit() {
    if (!state.fit) return;
    const img = image();
    state.scale = currentScale();
    state.cx = img.width / 2;
    state.cy = img.height / 2;
    state.fit = false;
  }

  // Zooms to a scale keeping the image point under (vx, vy) of a view in place.
  function zoomTo(scale, view, vx, vy) {
    unfit();
    scale = Math.min(MAX_ZOOM, Math.max(ZOOMS[0], scale));
    if (view) {
      const t = transform(view.clientWidth, view.clientHeight);
      const ix = (vx - t.x) / t.scale;
      const iy = (vy - t.y) / t.scale;
      state.cx = ix + (state.cx - ix) * t.scale / scale;
      state.cy = iy + (state.cy - iy) * t.scale / scale;
    }
    state.scale = scale;
    schedule();
  }

  function zoomStep(direction) {
    const scale = currentScale();
    const next = direction > 0 ? ZOOMS.find((z) => z > scale * 1.0001)
                               : ZOOMS.slice().reverse().find((z) => z < scale * 0.9999);
    if (next) zoomTo(next);
  }

  function pan(dx, dy) {
    unfit();
    state.cx -= dx / state.scale;
    state.cy -= dy / state.scale;
    schedule();
  }

  // ---- drawing ------------------------------------------------------------

  // Draws the visible part of a picture with the view's transform, inside
  // the columns [x0, x1) of the canvas.
  function drawPicture(context, pic, t, x0, x1, height) {
    const img = image();
    const pixel = pic.image.naturalWidth / img.width;   // picture pixels per image pixel
    const scale = t.scale / pixel;                        // screen pixels per picture pixel
    const sx0 = Math.max(0, Math.floor((x0 - t.x) / scale));
    const sy0 = Math.max(0, Math.floor(-t.y / scale));
    const sx1 = Math.min(pic.image.naturalWidth, Math.ceil((x1 - t.x) / scale));
    const sy1 = Math.min(pic.image.naturalHeight, Math.ceil((height - t.y) / scale));
    if (sx1 <= sx0 || sy1 <= sy0) return;
    context.imageSmoothingEnabled = scale < 1;
    context.imageSmoothingQuality = 'high';
    context.drawImage(pic.image, sx0, sy0, sx1 - sx0, sy1 - sy0,
                      t.x + sx0 * scale, t.y + sy0 * scale, (sx1 - sx0) * scale, (sy1 - sy0) * scale);
  }

  // Multiplies the canvas by four with saturation in the columns [x0, x1).
  let scratch = null;
  function timesFour(context, x0, x1, height) {
    if (x1 <= x0) return;
    scratch = scratch || document.createElement('canvas');
    scratch.width = x1 - x0;
    scratch.height = height;
    const copy = scratch.getContext('2d');
    for (let round = 0; round < 2; round += 1) {
      copy.globalCompositeOperation = 'copy';
      copy.drawImage(context.canvas, x0, 0, x1 - x0, height, 0, 0, x1 - x0, height);
      context.globalCompositeOperation = 'lighter';
      context.drawImage(scratch, x0, 0);
    }
    context.globalCompositeOperation = 'source-over';
  }

  // One side of a view: the source's picture in [x0, x1), its difference
  // from the original when asked. Returns what the side shows.
  function drawSide(context, src, t, x0, x1, height, inUse) {
    const side = { file: src.file || '', caption: src.caption, warning: src.warning || '', message: src.message || '' };
    if (src.message) return side;
    const pic = picture(src, t.scale, inUse);
    if (pic.error) {
      side.message = 'Cannot load ' + pic.error + ': the file is missing or not a PNG image.';
      return side;
    }
    if (!pic.image) {
      side.loading = true;
      return side;
    }
    side.loading = !pic.done;
    context.save();
    context.beginPath();
    context.rect(x0, 0, x1 - x0, height);
    context.clip();
    drawPicture(context, pic, t, x0, x1, height);
    if (state.difference && !src.original) {
      const original = source(ORIGINAL);
      const base = picture(original, t.scale, inUse);
      if (base.error) {
        side.message = 'Cannot load ' + base.error + ' for the difference: the file is missing or not a PNG image.';
      } else if (base.image && base.image.naturalWidth === pic.image.naturalWidth) {
        context.globalCompositeOperation = 'difference';
        drawPicture(context, base, t, x0, x1, height);
        context.globalCompositeOperation = 'source-over';
        timesFour(context, x0, x1, height);
        side.difference = true;
      } else {
        side.loading = true;
      }
    }
    context.restore();
    return side;
  }

  function setMessage(view, cls, text, loading) {
    let box = view.querySelector('.message.' + cls);
    if (!text) {
      if (box) box.remove();
      return;
    }
    if (!box) {
      box = document.createElement('div');
      box.className = 'message ' + cls;
      view.appendChild(box);
    }
    box.classList.toggle('loading', !!loading);
    box.textContent = text;
  }

  function captionHtml(span, side) {
    span.textContent = (side.difference ? 'difference \u00d74 \u00b7 ' : '') + side.caption;
    if (side.warning) {
      const warn = document.createElement('span');
      warn.className = 'warn';
      warn.textContent = ' (' + side.warning + ')';
      span.appendChild(warn);
    }
    span.title = side.file;
  }

  function drawPane(pane, inUse) {
    const view = pane.view;
    const width = view.clientWidth;
    const height = view.clientHeight;
    const canvas = pane.canvas;
    if (canvas.width !== width || canvas.height !== height) {
      canvas.width = width;
      canvas.height = height;
    }
    const context = canvas.getContext('2d');
    context.clearRect(0, 0, width, height);
    const t = transform(width, height);
    view.dataset.scale = String(t.scale);
    view.dataset.offsetX = String(t.x);
    view.dataset.offsetY = String(t.y);
    let busy = false;
    if (pane.sides.length === 2) {
      const split = Math.round(state.split * width);
      pane.divider.style.left = split + 'px';
      view.dataset.split = String(split);
      const left = drawSide(context, source(pane.sides[0]), t, 0, split, height, inUse);
      const right = drawSide(context, source(pane.sides[1]), t, split, width, height, inUse);
      view.dataset.fileLeft = left.file;
      view.dataset.fileRight = right.file;
      captionHtml(pane.captionLeft, left);
      captionHtml(pane.captionRight, right);
      setMessage(view, 'left', left.message || (left.loading ? 'loading\u2026' : ''), !left.message);
      setMessage(view, 'right', right.message || (right.loading ? 'loading\u2026' : ''), !right.message);
      busy = left.loading || right.loading;
    } else {
      const side = drawSide(context, source(pane.sides[0]), t, 0, width, height, inUse);
      view.dataset.file = side.file;
      captionHtml(pane.captionLeft, side);
      setMessage(view, 'whole', side.message || (side.loading ? 'loading\u2026' : ''), !side.message);
      busy = side.loading;
    }
    return busy;
  }

  let scheduled = false;
  function schedule() {
    if (scheduled) return;
    scheduled = true;
    document.body.dataset.ready = 'false';
    requestAnimationFrame(render);
  }

  function render() {
    scheduled = false;
    const inUse = new Set();
    let busy = false;
    for (const pane of panes) busy = drawPane(pane, inUse) || busy;
    trimCache(inUse);
    updateControls();
    document.body.dataset.ready = String(!busy && pendingLoads === 0);
  }

  // ---- panes --------------------------------------------------------------

  let panes = [];

  function makePane(sides) {
    const element = document.createElement('div');
    element.className = 'pane';
    const caption = document.createElement('div');
    caption.className = 'caption';
    const captionLeft = document.createElement('span');
    const captionRight = document.createElement('span');
    captionRight.className = 'right';
    caption.append(captionLeft, captionRight);
    const view = document.createElement('div');
    view.className = 'view';
    const canvas = document.createElement('canvas');
    view.appendChild(canvas);
    const pane = { element, view, canvas, captionLeft, captionRight, sides, divider: null };
    if (sides.length === 2) {
      const divider = document.createElement('div');
      divider.className = 'divider';
      divider.title = 'Drag to move the split';
      view.appendChild(divider);
      pane.divider = divider;
      divider.addEventListener('pointerdown', (event) => {
        event.stopPropagation();
        event.preventDefault();
        divider.setPointerCapture(event.pointerId);
        const move = (e) => {
          const box = view.getBoundingClientRect();
          state.split = Math.min(1, Math.max(0, (e.clientX - box.left) / box.width));
          schedule();
        };
        const up = () => {
          divider.removeEventListener('pointermove', move);
          divider.removeEventListener('pointerup', up);
        };
        divider.addEventListener('pointermove', move);
        divider.addEventListener('pointerup', up);
      });
    }
    element.append(caption, view);
    attachPanZoom(view);
    return pane;
  }

  function attachPanZoom(view) {
    view.addEventListener('pointerdown', (event) => {
      if (event.button !== 0) return;
      view.setPointerCapture(event.pointerId);
      view.classList.add('dragging');
      let lastX = event.clientX;
      let lastY = event.clientY;
      const move = (e) => {
        pan(e.clientX - lastX, e.clientY - lastY);
        lastX = e.clientX;
        lastY = e.clientY;
      };
      const up = () => {
        view.classList.remove('dragging');
        view.removeEventListener('pointermove', move);
        view.removeEventListener('pointerup', up);
      };
      view.addEventListener('pointermove', move);
      view.addEventListener('pointerup', up);
    });
    // A wheel's notch zooms by two; a touchpad's many small steps add up
    // to one.
    let wheel = 0;
    view.addEventListener('wheel', (event) => {
      event.preventDefault();
      wheel += event.deltaMode === 0 ? event.deltaY : event.deltaY * 40;
      if (Math.abs(wheel) < 40) return;
      const box = view.getBoundingClientRect();
      const factor = wheel < 0 ? 2 : 0.5;
      wheel = 0;
      zoomTo(currentScale() * factor, view, event.clientX - box.left, event.clientY - box.top);
    }, { passive: false });
  }

  function buildPanes() {
    const container = $('panes');
    container.textContent = '';
    const names = image().schemes.map((entry) => entry.name);
    if (state.mode === 'two') {
      panes = [makePane([state.left, state.right])];
      container.style.gridTemplateColumns = '1fr';
      container.style.gridTemplateRows = '1fr';
    } else {
      panes = [makePane([ORIGINAL])].concat(names.map((name) => makePane([name])));
      const columns = Math.ceil(Math.sqrt(panes.length));
      container.style.gridTemplateColumns = 'repeat(' + columns + ', minmax(0, 1fr))';
      container.style.gridTemplateRows = 'repeat(' + Math.ceil(panes.length / columns) + ', minmax(0, 1fr))';
    }
    for (const pane of panes) container.appendChild(pane.element);
    document.body.classList.toggle('grid', state.mode === 'grid');
    schedule();
  }

  // ---- controls -----------------------------------------------------------

  function rateBounds() {
    const img = image();
    return img.low > 0 && img.high > 0 ? [img.low, img.high] : null;
  }

  function sliderToRate(value) {
    const bounds = rateBounds();
    if (!bounds) return 1;
    const low = Math.log(bounds[0]);
    const high = Math.log(bounds[1]);
    return Math.exp(low + (high - low) * value / 1000);
  }

  function rateToSlider(rate) {
    const bounds = rateBounds();
    if (!bounds || bounds[1] <= bounds[0]) return 500;
    const low = Math.log(bounds[0]);
    const high = Math.log(bounds[1]);
    return Math.round(Math.min(1, Math.max(0, (Math.log(rate) - low) / (high - low))) * 1000);
  }

  function setRate(rate) {
    state.rate = rate;
    state.pin = null;
    schedule();
  }

  function choiceOptions(select, names, chosen) {
    select.textContent = '';
    for (const name of [ORIGINAL].concat(names)) {
      const option = document.createElement('option');
      option.value = name;
      option.textContent = name === ORIGINAL ? 'original' : name;
      select.appendChild(option);
    }
    select.value = chosen;
  }

  function chooseImage(position, keepRate) {
    state.image = Math.min(data.images.length - 1, Math.max(0, position));
    state.pin = null;
    const img = image();
    const names = img.schemes.map((entry) => entry.name);
    if (!names.includes(state.left) && state.left !== ORIGINAL) state.left = names[0] || ORIGINAL;
    if (!names.includes(state.right) && state.right !== ORIGINAL) {
      state.right = names.find((name) => name !== state.left) || ORIGINAL;
    }
    choiceOptions($('left'), names, state.left);
    choiceOptions($('right'), names, state.right);
    $('image').value = String(state.image);
    const bounds = rateBounds();
    if (!keepRate || !bounds || state.rate < bounds[0] || state.rate > bounds[1]) {
      state.rate = bounds ? Math.sqrt(bounds[0] * bounds[1]) : 1;
    }
    state.fit = true;
    const notes = $('notes');
    notes.textContent = '';
    const lines = img.notes.slice();
    if (!img.folder) lines.unshift('The decoded images of this image were not kept: its shard ran without --view.');
    for (const line of lines) {
      const div = document.createElement('div');
      div.textContent = line;
      notes.appendChild(div);
    }
    buildPanes();
  }

  function updateControls() {
    const img = image();
    const bounds = rateBounds();
    const slider = $('rate');
    slider.disabled = !bounds;
    slider.value = String(rateToSlider(state.rate));
    let text = rateText(state.rate) + ' bpp';
    if (bounds) {
      const outside = state.rate < bounds[0] * 0.999 || state.rate > bounds[1] * 1.001;
      text += ' (' + (outside ? 'outside ' : 'of ') + rateText(bounds[0]) + '\u2013' + rateText(bounds[1]) + ')';
    }
    $('rate-text').textContent = text;
    $('rate-control').title = (img.shared ? 'Rates all schemes share: ' : 'Rates of the schemes: ')
      + (bounds ? rateText(bounds[0]) + ' to ' + rateText(bounds[1]) + ' bpp' : 'none') + '; [ and ]: step';
    const scale = currentScale();
    $('zoom-text').textContent = scale >= 1 ? Math.round(scale * 100) / 100 + '\u00d7'
                                            : Math.round(scale * 100) + '%';
    $('mode-two').classList.toggle('active', state.mode === 'two');
    $('mode-grid').classList.toggle('active', state.mode === 'grid');
    $('original').checked = state.original;
    $('difference').checked = state.difference;
    $('left').value = state.left;
    $('right').value = state.right;
  }

  function setMode(mode) {
    if (state.mode === mode) return;
    state.mode = mode;
    buildPanes();
  }

  function readLink() {
    const params = new URLSearchParams(location.hash.replace(/^#/, ''));
    const position = parseInt(params.get('image'), 10);
    if (!(position >= 0 && position < data.images.length)) return false;
    state.image = position;
    const scheme = params.get('scheme');
    const bpp = parseFloat(params.get('bpp'));
    const setting = parseInt(params.get('setting'), 10);
    const names = image().schemes.map((entry) => entry.name);
    if (scheme !== null && names.includes(scheme)) {
      state.mode = 'two';
      if (state.right === scheme) state.right = state.left;
      state.left = scheme;
      if (!names.includes(state.right) || state.right === scheme) {
        state.right = names.includes('hybrid') && scheme !== 'hybrid' ? 'hybrid' : ORIGINAL;
      }
    }
    if (params.get('mode') === 'grid' || params.get('mode') === 'two') state.mode = params.get('mode');
    chooseImage(position, false);
    if (finite(bpp) && bpp > 0) {
      state.rate = bpp;
      state.pin = scheme !== null && Number.isInteger(setting) ? { scheme: scheme, setting: setting } : null;
    }
    // A view to share: zoom and the image point at the centre of the panes.
    const zoom = parseFloat(params.get('zoom'));
    if (finite(zoom) && zoom > 0) {
      state.fit = false;
      state.scale = Math.min(MAX_ZOOM, Math.max(ZOOMS[0], zoom));
      const x = parseFloat(params.get('x'));
      const y = parseFloat(params.get('y'));
      state.cx = finite(x) ? x : image().width / 2;
      state.cy = finite(y) ? y : image().height / 2;
    }
    schedule();
    return true;
  }

  function init() {
    const select = $('image');
    data.images.forEach((img, position) => {
      const option = document.createElement('option');
      option.value = String(position);
      option.textContent = img.name.replace(/^.*[\\/]/, '') + ' (' + img.width + '\u00d7' + img.height + ')';
      option.title = img.name;
      select.appendChild(option);
    });
    select.addEventListener('change', () => chooseImage(parseInt(select.value, 10), true));
    $('rate').addEventListener('input', () => setRate(sliderToRate(parseInt($('rate').value, 10))));
    $('mode-two').addEventListener('click', () => setMode('two'));
    $('mode-grid').addEventListener('click', () => setMode('grid'));
    $('left').addEventListener('change', () => { state.left = $('left').value; buildPanes(); });
    $('right').addEventListener('change', () => { state.right = $('right').value; buildPanes(); });
    $('swap').addEventListener('click', swap);
    $('zoom-in').addEventListener('click', () => zoomStep(1));
    $('zoom-out').addEventListener('click', () => zoomStep(-1));
    $('zoom-fit').addEventListener('click', () => { state.fit = true; schedule(); });
    $('zoom-one').addEventListener('click', () => zoomTo(1));
    $('original').addEventListener('change', () => { state.original = $('original').checked; schedule(); });
    $('difference').addEventListener('change', () => { state.difference = $('difference').checked; schedule(); });
    $('help-button').addEventListener('click', () => { $('help').hidden = !$('help').hidden; });
    document.addEventListener('keydown', keyDown);
    window.addEventListener('resize', schedule);
    window.addEventListener('hashchange', readLink);
    const names = data.images[0].schemes.map((entry) => entry.name);
    state.left = names[0] || ORIGINAL;
    state.right = names[1] || ORIGINAL;
    if (!readLink()) chooseImage(0, false);
  }

  function swap() {
    const left = state.left;
    state.left = state.right;
    state.right = left;
    buildPanes();
  }

  function stepRate(direction) {
    setRate(sliderToRate(Math.min(1000, Math.max(0, rateToSlider(state.rate) + direction * 25))));
  }

  function keyDown(event) {
    if (event.ctrlKey || event.metaKey || event.altKey) return;
    const target = event.target;
    const inControl = target && (target.tagName === 'SELECT' || (target.tagName === 'INPUT' && target.type === 'range'));
    const far = event.shiftKey ? 0.5 : 0.125;
    const view = document.querySelector('.view');
    const width = view ? view.clientWidth : 400;
    const height = view ? view.clientHeight : 300;
    const actions = {
      '[': () => stepRate(-1),
      ']': () => stepRate(1),
      't': () => setMode('two'),
      'g': () => setMode('grid'),
      'x': swap,
      'o': () => { state.original = !state.original; schedule(); },
      'd': () => { state.difference = !state.difference; schedule(); },
      '+': () => zoomStep(1),
      '=': () => zoomStep(1),
      '-': () => zoomStep(-1),
      '0': () => { state.fit = true; schedule(); },
      '1': () => zoomTo(1),
      '2': () => zoomTo(2),
      '4': () => zoomTo(4),
      '8': () => zoomTo(8),
      'n': () => chooseImage((state.image + 1) % data.images.length, true),
      'p': () => chooseImage((state.image + data.images.length - 1) % data.images.length, true),
      'h': () => { $('help').hidden = !$('help').hidden; },
      '?': () => { $('help').hidden = !$('help').hidden; },
      'Escape': () => { $('help').hidden = true; },
    };
    const arrows = {
      ArrowLeft: () => pan(Math.round(width * far), 0),
      ArrowRight: () => pan(-Math.round(width * far), 0),
      ArrowUp: () => pan(0, Math.round(height * far)),
      ArrowDown: () => pan(0, -Math.round(height * far)),
    };
    const key = event.key.length === 1 && !event.shiftKey ? event.key.toLowerCase() : event.key;
    const action = actions[key] || (!inControl && arrows[event.key]);
    if (!action) return;
    event.preventDefault();
    action();
  }

  init();
})();
