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
  for (const c of g.connections) {
    const a = place.get(c.from), b = place.get(c.to);
    if (!a || !b) continue;
    const x1 = a.x + w, y1 = a.y + h / 2, x2 = b.x, y2 = b.y + h / 2;
    const mx = (x1 + x2) / 2;
    svg('path', { class: 'edge', d: `M${x1},${y1} C${mx},${y1} ${mx},${y2} ${x2},${y2}` }, root);
    const label = svg('text', { class: 'label', x: mx, y: (y1 + y2) / 2 - 4, 'text-anchor': 'middle' }, root);
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
  title.textContent = entry.property;
  title.title = 'node ' + entry.node;
  box.appendChild(title);
  const area = document.createElement('div');
  area.className = 'area';
  box.appendChild(area);
  const stats = document.createElement('div');
  stats.className = 'stats';
  box.appendChild(stats);
  byId('plots').appendChild(box);
  byId('no-histograms').hidden = true;
  p = { box, area, stats, chart: null, bins: -1 };
  plots.set(key, p);
  return p;
}

function drawHistogram(p, h) {
  // A step line over the bins: one point per edge, the last bin's count repeated.
  const ys = h.counts.concat(h.counts.length ? [h.counts[h.counts.length - 1]] : []);
  const data = [h.edges, ys];
  const axis = h.property + (h.unit ? ' [' + h.unit + ']' : '');
  if (typeof uPlot === 'undefined') {
    p.area.textContent = h.counts.map((c, i) => `[${h.edges[i]}, ${h.edges[i + 1]}): ${c}`).join('\n');
    p.area.style.whiteSpace = 'pre';
  } else if (!p.chart || p.bins !== h.counts.length) {
    if (p.chart) p.chart.destroy();
    p.chart = new uPlot({
      width: 460, height: 260, legend: { show: false },
      scales: { x: { time: false } },
      axes: [{ label: axis }, { label: 'counts' }],
      series: [{}, { label: 'counts', stroke: '#1f77b4', fill: 'rgba(31,119,180,0.2)',
        paths: uPlot.paths.stepped({ align: 1 }), points: { show: false } }],
    }, data, p.area);
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
