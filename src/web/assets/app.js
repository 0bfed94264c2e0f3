// The station page: polls the JSON API once a second and redraws what changed.
(function () {
  "use strict";
  var token = new URLSearchParams(location.search).get("token");
  var $ = function (id) { return document.getElementById(id); };
  var built = false, lastNumber = -1, chosen = 5, plot = null, plotShape = "", station = null, chartBusy = false;
  var DAY = 86400000;

  function get(path) {
    var opts = { cache: "no-store", headers: token ? { Authorization: "Bearer " + token } : {} };
    return fetch(path, opts).then(function (r) {
      if (!r.ok) throw new Error(r.status + " " + r.statusText);
      return r.json();
    });
  }
  function el(tag, cls, text) {
    var e = document.createElement(tag);
    if (cls) e.className = cls;
    if (text !== undefined && text !== null) e.textContent = text;
    return e;
  }
  function when(iso) { return iso ? iso.replace("T", " ").replace(/\.\d+Z$/, "") : "never"; }
  function span(seconds) {
    if (seconds === null || seconds === undefined) return "";
    var s = Math.max(0, Math.round(seconds));
    if (s < 90) return s + " s";
    if (s < 5400) return Math.round(s / 60) + " min";
    if (s < 172800) return (s / 3600).toFixed(1) + " h";
    return (s / 86400).toFixed(1) + " days";
  }
  function fillRows(body, rows, cols, empty) {
    body.replaceChildren();
    if (!rows.length) {
      var tr = el("tr"), td = el("td", "muted", empty);
      td.colSpan = cols; tr.appendChild(td); body.appendChild(tr);
      return;
    }
    rows.forEach(function (cells) {
      var tr = el("tr");
      cells.forEach(function (c) { tr.appendChild(typeof c === "object" ? c : el("td", null, c)); });
      body.appendChild(tr);
    });
  }

  // ---- the 46 values in the window's four groups
  function build(cur) {
    var host = $("groups"), select = $("field");
    cur.groups.forEach(function (g, gi) {
      var fs = el("fieldset", gi === 3 ? "eps" : null), tb = el("tbody"), t = el("table");
      fs.appendChild(el("legend", null, g.caption));
      g.fields.forEach(function (f) {
        var v = cur.values[f], tr = el("tr", "pick");
        tr.id = "row" + f;
        tr.title = "chart " + v.name;
        tr.appendChild(el("td", null, v.name));
        var val = el("td", "val", "");
        val.id = "v" + f;
        tr.appendChild(val);
        tr.appendChild(el("td", "unit", v.unit));
        var lim = el("td", "lim", "");
        lim.id = "l" + f;
        tr.appendChild(lim);
        tr.addEventListener("click", function () { choose(f); });
        tb.appendChild(tr);
      });
      t.appendChild(tb); fs.appendChild(t); host.appendChild(fs);
    });
    cur.values.forEach(function (v) {
      var o = el("option", null, v.name + (v.unit ? " [" + v.unit + "]" : ""));
      o.value = v.field; select.appendChild(o);
    });
    select.value = chosen;
    select.addEventListener("change", function () { choose(+select.value); });
    $("range").addEventListener("change", refreshChart);
    built = true;
    choose(chosen);
  }
  function choose(f) {
    var old = $("row" + chosen);
    if (old) old.classList.remove("chosen");
    chosen = f;
    $("row" + f).classList.add("chosen");
    $("field").value = f;
    refreshChart();
  }
  function showCurrent(cur) {
    if (!built) build(cur);
    if (cur.number === lastNumber) return false;
    lastNumber = cur.number;
    cur.values.forEach(function (v) {
      var shown = v.text !== null ? v.text : (v.value === null ? "" : String(v.value));
      $("v" + v.field).textContent = shown;
      var l = $("l" + v.field), lv = v.limit ? v.limit.level : "unchecked";
      // The state in words beside the value: "red-low", "ok".
      l.textContent = lv === "unchecked" ? "" : (v.limit.state || v.limit.word);
      var cls = lv === "red" ? 3 : lv === "yellow" ? 2 : 0;
      l.className = "lim" + (cls ? " lim-" + cls : "");
      $("v" + v.field).className = "val" + (cls ? " lim-" + cls : "");
    });
    $("record-info").textContent = cur.number
      ? "record " + cur.number + " from " + (cur.source || "?") + ", " + when(cur.time) + " UTC" + (cur.imported ? " (imported)" : "")
      : "no telemetry frame yet";
    return true;
  }

  // ---- the station
  function showStation(s) {
    station = s;
    var m = s.modem, b = $("modem");
    b.textContent = m.connected ? "connected" : "disconnected";
    b.className = "state " + (m.connected ? "up" : "down");
    $("modem-for").textContent = (m.since ? "for " + span(m.for_seconds) : "") +
      (m.reconnect_attempts ? ", " + m.reconnect_attempts + " reconnect attempts" : "");
    $("last-frame").textContent = when(s.frames.last) + (s.frames.last ? " UTC" : "");
    $("last-age").textContent = s.frames.last ? "(" + span(s.frames.last_age_seconds) + " ago)" : "";
    $("frames-run").textContent = s.frames.this_run;
    $("frames-today").textContent = s.frames.today;
    $("alarms").textContent = s.alarms.red || s.alarms.yellow
      ? s.alarms.red + " red, " + s.alarms.yellow + " yellow" : "none";
    var ix = s.influx;
    $("influx-box").hidden = !ix;
    if (ix) $("influx").textContent = ix.accepted + " accepted, " + ix.failed + " failed, " +
      ix.queued + " queued" + (ix.last_error ? "; last error " + ix.last_error_time + ": " + ix.last_error : "");
    fillRows($("uploads"), s.uploads.map(function (u) {
      return [u.server, u.accepted, u.failed,
              u.queue_entries + (u.queue_bytes ? " (" + Math.ceil(u.queue_bytes / 1024) + " KiB)" : ""),
              when(u.last_success), u.last_error ? when(u.last_error_time) + ": " + u.last_error : ""];
    }), 6, "no upload server set");
  }
  function showLog(l) { $("log").textContent = l.lines.join("\n"); }
  function showPasses(p) {
    fillRows($("passes"), p.passes.map(function (x) {
      var w = el("td", x.worst === "red" ? "lim-3" : x.worst === "yellow" ? "lim-2" : null, x.worst);
      return [when(x.start), span((Date.parse(x.end) - Date.parse(x.start)) / 1000) || "0 s",
              x.frames, x.source, w];
    }), 5, "none yet");
    return p.passes;
  }

  // ---- the chart: mean line with a min-max band, and a tooltip
  function rangeQuery(passes) {
    var r = $("range").value, now = Date.now();
    var back = { day: DAY, week: 7 * DAY, month: 30 * DAY, year: 365 * DAY }[r];
    if (back) return "from=-" + back / 1000 + "s&to=now";
    if (r === "run" && station && station.started) return "from=" + station.started + "&to=now";
    if (r === "pass" && passes && passes.length)
      return "from=" + passes[0].start + "&to=" + passes[0].end;
    if (r === "all") return "from=1970-01-01&to=now";
    return "from=-" + DAY / 1000 + "s&to=now";
  }
  function tooltip() {
    var tip;
    return { hooks: {
      init: function (u) { tip = el("div", "tip"); u.over.appendChild(tip); },
      setCursor: function (u) {
        var i = u.cursor.idx;
        if (i === null || i === undefined || u.cursor.left < 0) { tip.style.display = "none"; return; }
        var d = u.data, t = new Date(d[0][i] * 1000).toISOString().replace("T", " ").slice(0, 19);
        tip.textContent = t + " UTC — " + d[1][i] + (d[2][i] !== d[3][i] ? " (" + d[2][i] + " … " + d[3][i] + ")" : "") +
          (d[4][i] !== null ? ", beyond a red limit" : d[5][i] !== null ? ", beyond a yellow limit" : "");
        tip.style.display = "block";
        tip.style.left = Math.min(u.cursor.left + 12, u.over.clientWidth - tip.offsetWidth) + "px";
        tip.style.top = Math.max(0, u.cursor.top - 30) + "px";
      } } };
  }
  function marks(label, colour) {
    return { label: label, stroke: colour, paths: function () { return null; },
             points: { show: true, size: 7, fill: colour, stroke: colour } };
  }
  function refreshChart() {
    if (!built || chartBusy) return;
    chartBusy = true;
    // One bucket (its mean, lowest and highest) per pixel column of the plot:
    // more would be drawn on top of each other.
    var host = $("chart"), plotWidth = plot ? plot.bbox.width / uPlot.pxRatio : host.clientWidth - 60;
    var points = Math.max(50, Math.min(2000, Math.floor(plotWidth)));
    var passes = $("range").value === "pass" ? get("/api/passes?from=-3650d&to=now") : Promise.resolve(null);
    passes.then(function (p) {
      return get("/api/series?field=" + chosen + "&points=" + points + "&" + rangeQuery(p && p.passes));
    }).then(function (s) {
      var ts = s.t.map(function (t) { return t / 1000; });
      // Buckets with a value beyond a limit: a red or yellow dot on their highest value.
      var beyond = function (word) {
        return s.max.map(function (v, i) { return s.worst && s.worst[i] === word ? v : null; });
      };
      var data = [ts, s.mean, s.min, s.max, beyond("red"), beyond("yellow")];
      var label = s.name + (s.unit ? " [" + s.unit + "]" : "");
      $("chart-info").textContent = s.t.length + " points, " + (s.source === "archive" ? "from the archive" : "this run");
      var opts = {
        width: host.clientWidth, height: 320, title: label,
        scales: { x: { time: true, range: function (u, lo, hi) {
          return lo === hi ? [lo - 60, hi + 60] : [lo, hi]; // one point: a minute either side
        } } },
        tzDate: function (ts) { return uPlot.tzDate(new Date(ts * 1000), "Etc/UTC"); },
        axes: [{ space: 90,
                 incrs: [1, 2, 5, 10, 15, 30, 60, 120, 300, 600, 900, 1800, 3600, 7200, 10800,
                         21600, 43200, 86400, 172800, 604800, 2592000, 31536000],
                 values: function (u, ticks) {
                   var wide = ticks.length > 1 && ticks[ticks.length - 1] - ticks[0] > 2 * 86400;
                   return ticks.map(function (t) {
                     var iso = new Date(t * 1000).toISOString();
                     return wide ? iso.slice(5, 10) + " " + iso.slice(11, 16) : iso.slice(11, 19);
                   });
                 } },
               { label: s.unit || "" }],
        series: [{}, { label: label, stroke: "#2563eb", width: 1.5, points: { show: s.t.length < 200 } },
                 { label: "min", stroke: "rgba(37,99,235,.25)" }, { label: "max", stroke: "rgba(37,99,235,.25)" },
                 marks("red", "#d21e1e"), marks("yellow", "#e6be00")],
        bands: [{ series: [3, 2], fill: "rgba(37,99,235,.15)" }],
        legend: { show: false },
        plugins: [tooltip()]
      };
      // A new frame only brings new data: the plot keeps its canvas, axes and
      // cursor, and is made again only for another field (or points shown).
      var shape = label + (s.t.length < 200 ? " points" : "");
      if (plot && plotShape === shape) return plot.setData(data);
      if (plot) plot.destroy();
      plot = new uPlot(opts, data, host);
      plotShape = shape;
    }).catch(function (e) { $("chart-info").textContent = "chart: " + e.message; })
      .finally(function () { chartBusy = false; });
  }
  window.addEventListener("resize", function () { if (plot) plot.setSize({ width: $("chart").clientWidth, height: 320 }); });

  // ---- the sky: the next-pass line, the polar plot (SVG) and the next passes
  var SVG = "http://www.w3.org/2000/svg";
  function svg(tag, attrs, text) {
    var e = document.createElementNS(SVG, tag);
    Object.keys(attrs).forEach(function (k) { e.setAttribute(k, attrs[k]); });
    if (text) e.textContent = text;
    return e;
  }
  function place(az, elev) { // north up, east right, the horizon at radius 100
    var r = 100 * (90 - Math.max(0, Math.min(90, elev))) / 90, a = az * Math.PI / 180;
    return [r * Math.sin(a), -r * Math.cos(a)];
  }
  function dur(ms) {
    var m = Math.round(Math.max(0, ms) / 60000);
    return m < 60 ? m + " min" : Math.floor(m / 60) + " h " + (m % 60) + " min";
  }
  function deg(v) { return Math.round(v) + "\u00b0"; }
  function hms(iso) { return iso.slice(11, 19); }
  function showSky(s, track) {
    if (!s.satellite) { $("sky-section").hidden = true; $("sky-line").hidden = true; return; }
    $("sky-section").hidden = false;
    var now = Date.parse(s.now ? s.now.time : new Date().toISOString()), line;
    if (s.pass && s.now)
      line = "Pass in progress: elevation " + deg(s.now.elevation) + ", azimuth " + deg(s.now.azimuth) +
        ", LOS in " + dur(Date.parse(s.pass.los) - now);
    else if (s.next_passes.length)
      line = "Next pass " + hms(s.next_passes[0].aos) + " UTC, max " + deg(s.next_passes[0].max_elevation) +
        ", in " + dur(Date.parse(s.next_passes[0].aos) - now);
    else line = "No pass known ahead";
    $("sky-line").hidden = false;
    $("sky-line").textContent = line;
    $("sky-info").textContent = s.satellite.name + " (" + s.satellite.catalogue + "), TLE " +
      s.satellite.tle_age_days.toFixed(1) + " days old";
    fillRows($("next-passes"), s.next_passes.map(function (p) {
      return [when(p.aos), deg(p.max_elevation), deg(p.aos_azimuth), deg(p.los_azimuth),
              dur(Date.parse(p.los) - Date.parse(p.aos))];
    }), 5, "none known");
    var plot = $("sky-plot"), title = $("sky-desc");
    plot.replaceChildren(title);
    [0, 30, 60].forEach(function (e) {
      plot.appendChild(svg("circle", { cx: 0, cy: 0, r: 100 * (90 - e) / 90, "class": "ring" }));
      plot.appendChild(svg("text", { x: 2, y: -100 * (90 - e) / 90 + 9, "class": "label" }, e + "\u00b0"));
    });
    [["N", 0, -106], ["E", 106, 3], ["S", 0, 113], ["W", -113, 3]].forEach(function (c) {
      plot.appendChild(svg("text", { x: c[1] - 3, y: c[2], "class": "label" }, c[0]));
    });
    if (track) {
      track.frames.forEach(function (f) {
        var p = place(f[0], f[1]);
        plot.appendChild(svg("circle", { cx: p[0].toFixed(1), cy: p[1].toFixed(1), r: 1.5, "class": "dot" }));
      });
      if (track.track.length > 1)
        plot.appendChild(svg("polyline", { "class": "track", points: track.track.map(function (t) {
          var p = place(t[0], t[1]); return p[0].toFixed(1) + "," + p[1].toFixed(1);
        }).join(" ") }));
    }
    if (s.now && s.now.elevation >= 0) {
      var n = place(s.now.azimuth, s.now.elevation);
      plot.appendChild(svg("circle", { cx: n[0].toFixed(1), cy: n[1].toFixed(1), r: 4, "class": "now" }));
    }
    title.textContent = "Sky plot. " + line + (track ? ". " + track.frames.length + " frames of this run shown" : "");
  }

  // ---- live: once a second
  var tick = 0, skyTrack = null;
  function poll() {
    var slow = tick++ % 10 === 0;
    Promise.all([get("/api/station"), get("/api/current"), get("/api/log?lines=200"),
                 slow ? get("/api/passes?from=-30d&to=now") : null,
                 tick % 2 ? get("/api/sky") : null, tick % 10 === 1 ? get("/api/sky/track") : null])
      .then(function (r) {
        showStation(r[0]);
        var fresh = showCurrent(r[1]);
        showLog(r[2]);
        if (r[3]) showPasses(r[3]);
        if (r[5]) skyTrack = r[5];
        if (r[4]) showSky(r[4], skyTrack);
        if (fresh && tick > 1) {
          refreshChart();
          if (!r[3]) get("/api/passes?from=-30d&to=now").then(showPasses);
        }
        $("page-state").textContent = "live, " + new Date().toISOString().slice(11, 19) + " UTC";
      })
      .catch(function (e) { $("page-state").textContent = "station not reachable (" + e.message + ")"; })
      .finally(function () { setTimeout(poll, 1000); });
  }
  poll();
})();
