// The live page: polls the run's state and histograms and draws them.
'use strict';

const byId = (id) => document.getElementById(id);
const svgNs = 'http://www.w3.org/2000/svg';
const plots = new Map();  // "node/property" -> {box, chart, stats, fallback}
let running = '';
let gone = false;

async function getJson(url) {
  const r = await fetch(url, { cache: 'no-store' });
  if (!r.ok) throw new Error(url + ': HTTP ' + r.status);
  return r.json();
}

function svg(tag, attrs, parent) {
  const e = document.createElementNS(svgNs, tag);
  for (const [k, v] of Object.entries(attrs)) e.setAttribute(k, v);
  if (parent) parent.appendChild(e);
  return e;
}

// Columns by the longest path from a node nobody feeds; rows in file order.
function drawGraph(g) {
  const into = new Map(g.nodes.map((n) => [n.name, []]));
  for (const c of g.connections) if (into.has(c.to)) into.get(c.to).push(c.from);
  const depth = new Map();
  const depthOf = (name, seen) => {
    if (depth.has(name)) return depth.get(name);
    if (seen.has(name)) return 0;
    seen.add(name);
    let d = 0;
    for (const from of into.get(name) || []) d = Math.max(d, depthOf(from, seen) + 1);
    depth.set(name, d);
    return d;
  };
  g.nodes.forEach((n) => depthOf(n.name, new Set()));
  const rows = [];
  const place = new Map();
  const w = 150, h = 44, gapX = 90, gapY = 26;
  for (const n of g.nodes) {
    const col = depth.get(n.name);
    rows[col] = (rows[col] || 0) + 1;
    place.set(n.name, { x: 10 + col * (w + gapX), y: 10 + (rows[col] - 1) * (h + gapY) });
  }
  const root = byId('graph');
  root.textContent = '';
  const defs = svg('defs', {}, root);
  const marker = svg('marker', { id: 'arrow', viewBox: '0 0 10 10', refX: 10, refY: 5,
    markerWidth: 7, markerHeight: 7, orient: 'auto-start-reverse' }, defs);
  svg('path', { d: 'M0,0 L10,5 L0,10 z', fill: '#888' }, marker);
  // An edge that skips a column would pass under the nodes between: it arcs
  // above them instead, in room kept free at the top.
  const spans = (c) => (depth.get(c.to) || 0) - (depth.get(c.from) || 0);
  const top = g.connections.some((c) => spans(c) !== 1) ? 40 : 0;
  for (const p of place.values()) p.y += top;
  for (const c of g.connections) {
    const a = place.get(c.from), b = place.get(c.to);
    if (!a || !b) continue;
    const x1 = a.x + w, y1 = a.y + h / 2, x2 = b.x, y2 = b.y + h / 2;
    const mx = (x1 + x2) / 2;
    let d = `M${x1},${y1} C${mx},${y1} ${mx},${y2} ${x2},${y2}`, ly = (y1 + y2) / 2 - 4;
    if (spans(c) !== 1) {
      const over = Math.min(a.y, b.y) - 30;
      d = `M${x1},${y1} C${x1 + 40},${over} ${x2 - 40},${over} ${x2},${y2}`;
      ly = over + (Math.min(y1, y2) - over) / 4 - 4;
    }
    svg('path', { class: 'edge', 'data-output': c.from + '.' + c.output, d }, root);
    const label = svg('text', { class: 'label', x: mx, y: ly, 'text-anchor': 'middle' }, root);
    label.textContent = c.output + ' \u2192 ' + c.input;
  }
  let width = 0, height = 0;
  for (const n of g.nodes) {
    const p = place.get(n.name);
    const group = svg('g', { class: 'node', 'data-node': n.name }, root);
    svg('rect', { x: p.x, y: p.y, width: w, height: h }, group);
    const name = svg('text', { x: p.x + 8, y: p.y + 18 }, group);
    name.textContent = n.name;
    const type = svg('text', { class: 'type', x: p.x + 8, y: p.y + 35 }, group);
    type.textContent = n.type;
    width = Math.max(width, p.x + w + 10);
    height = Math.max(height, p.y + h + 10);
  }
  root.setAttribute('viewBox', `0 0 ${width} ${height}`);
  root.style.maxWidth = width + 'px';
}

function markRunning(source) {
  if (source === running) return;
  running = source;
  for (const g of document.querySelectorAll('#graph .node'))
    g.classList.toggle('running', g.dataset.node === source);
}

async function refreshStatus() {
  const s = await getJson('/api/status');
  const state = byId('state');
  state.textContent = s.state;
  state.className = 'state ' + s.state;
  byId('events').textContent = s.events;
  byId('rate').textContent = Math.round(s.rate);
  byId('seconds').textContent = s.seconds.toFixed(1);
  byId('source').textContent = s.source || '-';
  byId('run-file').hidden = !s.file;
  byId('run-number').textContent = s.run === null || s.run === undefined ? '?' : s.run;
  byId('file').textContent = s.file || '';
  markRunning(s.state === 'running' ? s.source : '');
}

function plotFor(entry) {
  const key = entry.node + '/' + entry.property;
  let p = plots.get(key);
  if (p) return p;
  const box = document.createElement('div');
  box.className = 'plot';
  box.dataset.node = entry.node;
  box.dataset.property = entry.property;
  const title = document.createElement('h3');
  const name = document.createElement('span');
  name.className = 'name';
  name.textContent = entry.property;
  name.title = 'node ' + entry.node;
  const logLabel = document.createElement('label');
  const log = document.createElement('input');
  log.type = 'checkbox';
  log.className = 'log';
  logLabel.append(log, ' log scale');
  const reset = document.createElement('button');
  reset.className = 'reset';
  reset.textContent = 'reset zoom';
  reset.title = 'Drag across the plot to zoom in';
  title.append(name, logLabel, reset);
  box.appendChild(title);
  const area = document.createElement('div');
  area.className = 'area';
  box.appendChild(area);
  const stats = document.createElement('div');
  stats.className = 'stats';
  box.appendChild(stats);
  byId('plots').appendChild(box);
  byId('no-histograms').hidden = true;
  p = { box, area, stats, chart: null, bins: -1, log: false, zoomed: false, last: null };
  // Both redraw from the last histogram at once, not at the next poll.
  log.addEventListener('change', () => {
    p.log = log.checked;
    if (p.chart) p.chart.destroy();
    p.chart = null;
    if (p.last) drawHistogram(p, p.last);
  });
  reset.addEventListener('click', () => {
    p.zoomed = false;
    if (p.chart && p.last) p.chart.setData(plotData(p, p.last));
  });
  plots.set(key, p);
  return p;
}

// A step line over the bins: one point per edge, the last bin's count
// repeated. On a log scale an empty bin has no height to draw: a gap.
function plotData(p, h) {
  const ys = h.counts.concat(h.counts.length ? [h.counts[h.counts.length - 1]] : []);
  return [h.edges, p.log ? ys.map((c) => (c > 0 ? c : null)) : ys];
}

// Counts start at zero (or at 1 on a log scale): a plot never suppresses its zero.
function countRange(p) {
  return (u, min, max) => {
    if (p.log) return uPlot.rangeLog(1, Math.max(max || 1, 10), 10, true);
    return [0, max > 0 ? max * 1.05 : 1];
  };
}

// Wide enough for the longest tick label, so that the axis label stays clear of them.
function countAxisSize(u, values) {
  const longest = values ? Math.max(...values.map((v) => String(v).length)) : 4;
  return 28 + 7 * longest;
}

function drawHistogram(p, h) {
  p.last = h;
  const data = plotData(p, h);
  const axis = h.property + (h.unit ? ' [' + h.unit + ']' : '');
  if (typeof uPlot === 'undefined') {
    p.area.textContent = h.counts.map((c, i) => `[${h.edges[i]}, ${h.edges[i + 1]}): ${c}`).join('\n');
    p.area.style.whiteSpace = 'pre';
  } else if (!p.chart || p.bins !== h.counts.length) {
    if (p.chart) p.chart.destroy();
    p.zoomed = false;
    p.chart = new uPlot({
      width: 460, height: 260, legend: { show: false },
      scales: { x: { time: false }, y: { distr: p.log ? 3 : 1, log: 10, range: countRange(p) } },
      axes: [{ label: axis }, { label: 'counts', size: countAxisSize, labelGap: 4 }],
      series: [{}, { label: 'counts', stroke: '#1f77b4', fill: 'rgba(31,119,180,0.2)',
        paths: uPlot.paths.stepped({ align: 1 }), points: { show: false } }],
      // A drag zooms in; the refreshes that follow keep the zoom until "reset zoom".
      hooks: { setScale: [(u, key) => {
        if (key !== 'x' || !p.last) return;
        const e = p.last.edges;
        p.zoomed = u.scales.x.min > e[0] || u.scales.x.max < e[e.length - 1];
      }] },
    }, data, p.area);
    p.box.dataset.scale = p.chart.scales.y.distr === 3 ? 'log' : 'linear';
  } else if (p.zoomed) {
    const { min, max } = p.chart.scales.x;
    p.chart.setData(data);
    p.chart.setScale('x', { min, max });  // the counts rescale to what is shown
  } else {
    p.chart.setData(data);
  }
  p.bins = h.counts.length;
  p.stats.textContent = `entries ${h.entries}, mean ${h.mean.toPrecision(6)}, RMS ${h.rms.toPrecision(6)}, ` +
    `underflow ${h.underflow}, overflow ${h.overflow}` + (h.nan ? `, NaN ${h.nan}` : '');
}

async function refreshHistograms() {
  const list = await getJson('/api/histograms');
  for (const entry of list) drawHistogram(plotFor(entry), await getJson(entry.url));
}

async function refreshOutput() {
  const r = await fetch('/api/output', { cache: 'no-store' });
  if (!r.ok) return;
  const text = await r.text();
  if (!text) return;
  byId('output-section').hidden = false;
  const pane = byId('output');
  const atEnd = pane.scrollTop + pane.clientHeight >= pane.scrollHeight - 4;
  pane.textContent = text;
  if (atEnd) pane.scrollTop = pane.scrollHeight;
}

// Each poller runs again `ms` after it finished, so a slow answer never piles up requests.
function poll(what, ms) {
  const once = async () => {
    if (gone) return;
    try {
      await what();
    } catch (e) {
      gone = true;
      const state = byId('state');
      state.textContent = 'server gone';
      state.className = 'state gone';
      return;
    }
    setTimeout(once, ms);
  };
  once();
}

async function main() {
  if (window.uPlotMissing) {
    const notice = byId('notice');
    notice.textContent = 'This tarn was built without its drawing library (npm was not available): ' +
      'histograms are shown as tables of counts.';
    notice.hidden = false;
  }
  try {
    drawGraph(await getJson('/api/graph'));
  } catch (e) {
    byId('graph').textContent = '';
  }
  poll(refreshStatus, 500);
  poll(refreshHistograms, 700);
  poll(refreshOutput, 1000);
}

main();
