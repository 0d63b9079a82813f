// Small charts drawn as inline SVG: vertical bars for days and hours, and
// horizontal bars for ranked lists. Labels are text nodes, never markup.
(function () {
  'use strict';
  const SVG = 'http://www.w3.org/2000/svg';

  function svg(tag, attrs, text) {
    const node = document.createElementNS(SVG, tag);
    for (const [name, value] of Object.entries(attrs || {})) node.setAttribute(name, String(value));
    if (text !== undefined) node.textContent = text;
    return node;
  }

  function numbers(values) {
    return Array.isArray(values) ? values.map((v) => (Number.isFinite(v) && v > 0 ? v : 0)) : [];
  }

  // values: numbers; options.label(i) gives the axis text (or '' to skip it),
  // options.describe(i, value) the tooltip and accessible text of one bar.
  function columns(values, options) {
    const data = numbers(values);
    const width = 640;
    const height = options.height || 160;
    const axis = 2;
    const top = 8;
    const plot = height - axis - top;
    const max = Math.max(1, ...data);
    const slot = width / Math.max(1, data.length);
    const gap = Math.min(6, slot * 0.25);
    const chart = svg('svg', {
      class: 'chart columns',
      viewBox: '0 0 ' + width + ' ' + height,
      preserveAspectRatio: 'none',
      role: 'img',
      'aria-label': options.title,
    });
    chart.style.height = height + 'px';
    chart.appendChild(svg('title', {}, options.title));
    chart.appendChild(svg('line', { class: 'axis', x1: 0, x2: width, y1: top + plot + 0.5, y2: top + plot + 0.5 }));
    data.forEach((value, i) => {
      const barHeight = value > 0 ? Math.max(2, (value / max) * plot) : 0;
      const bar = svg('rect', {
        class: 'bar' + (options.highlight === i ? ' current' : ''),
        x: i * slot + gap / 2,
        y: top + plot - barHeight,
        width: Math.max(1, slot - gap),
        height: barHeight,
        rx: 2,
      });
      bar.appendChild(svg('title', {}, options.describe(i, value)));
      chart.appendChild(bar);
    });
    // Axis labels are HTML under the drawing, so the stretched SVG never
    // distorts or clips them.
    const labels = document.createElement('div');
    labels.className = 'chart-labels';
    labels.setAttribute('aria-hidden', 'true');
    data.forEach((_, i) => {
      const text = options.label(i);
      if (!text) return;
      const label = document.createElement('span');
      label.textContent = text;
      if (i === data.length - 1) label.style.right = '0';
      else if (i === 0) label.style.left = '0';
      else {
        label.style.left = ((i + 0.5) / data.length) * 100 + '%';
        label.classList.add('centred');
      }
      labels.appendChild(label);
    });
    // Each bar's figure, for screen readers and for copying.
    const list = document.createElement('ul');
    list.className = 'visually-hidden';
    data.forEach((value, i) => {
      const item = document.createElement('li');
      item.textContent = options.describe(i, value);
      list.appendChild(item);
    });
    const figure = document.createElement('figure');
    figure.className = 'chart-figure';
    figure.append(chart, labels, list);
    return figure;
  }

  // Entries that share a display name (two stored modes both shown as
  // "Dictate") are added up, then ordered by words, largest first.
  function merged(items) {
    const totals = new Map();
    for (const item of Array.isArray(items) ? items : []) {
      if (!item || typeof item !== 'object') continue;
      const name = typeof item.name === 'string' ? item.name : '';
      totals.set(name, (totals.get(name) || 0) + (Number(item.words) || 0));
    }
    return Array.from(totals, ([name, words]) => ({ name, words })).sort((a, b) => b.words - a.words);
  }

  // items: [{name, words}]
  function ranking(items, unit) {
    const list = document.createElement('ol');
    list.className = 'ranking';
    const rows = merged(items);
    const max = Math.max(1, ...rows.map((item) => Number(item.words) || 0));
    for (const item of rows) {
      const words = Number(item.words) || 0;
      const row = document.createElement('li');
      const name = document.createElement('span');
      name.className = 'ranking-name';
      name.textContent = typeof item.name === 'string' ? item.name : '';
      const value = document.createElement('span');
      value.className = 'ranking-value';
      value.textContent = window.Velvox.count(words, unit);
      const track = document.createElement('span');
      track.className = 'ranking-track';
      track.setAttribute('aria-hidden', 'true');
      const fill = document.createElement('span');
      fill.className = 'ranking-fill';
      fill.style.width = Math.round((words / max) * 100) + '%';
      track.appendChild(fill);
      row.append(name, value, track);
      list.appendChild(row);
    }
    return list;
  }

  window.Charts = { columns, ranking };
})();
