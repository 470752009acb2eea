// The administration console: one page per area, each a thin view of the
// relay's JSON API under /api/. Changes are POSTs with the console's marker
// header, which a page of another site cannot send.
"use strict";

// Absolute addresses: a page opened with credentials in its address could
// not fetch relative ones.
const api = {
  async get(path) {
    const answer = await fetch(location.origin + "/api/" + path, { cache: "no-store" });
    return answer.json().then((body) => (answer.ok ? body : Promise.reject(new Error(body.error || answer.status))));
  },
  async post(path, body) {
    const answer = await fetch(location.origin + "/api/" + path, {
      method: "POST",
      headers: { "Content-Type": "application/json", "X-Zondrel-Console": "1" },
      body: JSON.stringify(body || {}),
    });
    return answer.json().then((reply) => (answer.ok ? reply : Promise.reject(new Error(reply.error || answer.status))));
  },
};

function say(text, error) {
  const message = document.getElementById("message");
  message.textContent = text;
  message.className = error ? "error" : "";
}

function cell(row, text) {
  const td = row.insertCell();
  td.textContent = text;
  return td;
}

// The accepted-connections rate of the last two minutes, for the chart.
const rates = [];
let lastSample = null;

function drawRates() {
  const top = Math.max(1, ...rates);
  const points = rates.map((rate, i) => `${i * 10},${115 - (rate / top) * 110}`).join(" ");
  document.querySelector("#rate-chart polyline").setAttribute("points", points);
}

function showCounters(status) {
  document.getElementById("counters-none").hidden = status.counters !== null;
  const body = document.querySelector("#counters tbody");
  body.replaceChildren();
  if (status.counters === null) return;
  for (const [name, value] of Object.entries(status.counters)) {
    const row = body.insertRow();
    cell(row, name);
    cell(row, String(value));
  }
  const sample = { time: status.time, accepted: status.counters.accepted };
  if (lastSample && sample.time > lastSample.time) {
    const rate = (sample.accepted - lastSample.accepted) / (sample.time - lastSample.time);
    rates.push(rate);
    if (rates.length > 60) rates.shift();
    document.getElementById("rate").textContent = rate.toFixed(1);
    drawRates();
  }
  lastSample = sample;
}

// The status page asks again every two seconds while it is shown.
setInterval(() => {
  if ((location.hash || "#status") === "#status") api.get("status").then(showCounters, () => {});
}, 2000);

const pages = {
  async status() {
    const status = await api.get("status");
    showCounters(status);
    const facts = document.getElementById("status-facts");
    facts.replaceChildren();
    const uptime = `${Math.floor(status.uptime / 86400)} d ${Math.floor(status.uptime / 3600) % 24} h ` +
                   `${Math.floor(status.uptime / 60) % 60} min`;
    for (const [name, value] of [["Service", status.service.state + (status.service.text ? ": " + status.service.text : "")],
                                 ["Up for", uptime],
                                 ["Version", status.version + " (" + status.build + ")"],
                                 ["Statistics since", status.runningSince]]) {
      const dt = document.createElement("dt");
      dt.textContent = name;
      const dd = document.createElement("dd");
      dd.textContent = value;
      facts.append(dt, dd);
    }
    const body = document.querySelector("#statistics tbody");
    body.replaceChildren();
    for (const [name, value] of Object.entries(status.statistics)) {
      const row = body.insertRow();
      cell(row, name);
      cell(row, String(value));
    }
  },

  async settings() {
    const { settings } = await api.get("settings");
    const filter = document.getElementById("settings-filter").value.toLowerCase();
    const body = document.querySelector("#settings tbody");
    body.replaceChildren();
    for (const setting of settings) {
      if (filter && !setting.name.toLowerCase().includes(filter)) continue;
      const row = body.insertRow();
      cell(row, setting.name);
      cell(row, setting.type);
      cell(row, JSON.stringify(setting.default));
      const input = document.createElement("input");
      input.value = setting.type === "text" ? setting.value : JSON.stringify(setting.value);
      cell(row, "").append(input);
      const save = document.createElement("button");
      save.textContent = "Set";
      save.onclick = async () => {
        try {
          const value = setting.type === "text" ? input.value : JSON.parse(input.value);
          const reply = await api.post("settings", { name: setting.name, value });
          say(reply.name + " set; it takes effect " + reply.takesEffect + ".");
        } catch (error) {
          say(error.message, true);
        }
      };
      cell(row, "").append(save);
    }
  },

  async flash() { document.getElementById("flash-text").value = (await api.get("flash")).text; },
  async corp() {
    const { settings } = await api.get("settings");
    const enabled = settings.find((setting) => setting.name === "EnableCorpChannel");
    document.getElementById("corp-enabled").checked = Boolean(enabled && enabled.value);
    document.getElementById("corp-text").value = (await api.get("corp")).text;
  },
  async redirect() { document.getElementById("redirect-text").value = (await api.get("redirect")).text; },
  async actions() {},

  async analysis() {},
  async diagnostics() {},
  async relays() {},

  async logs() {
    const { files } = await api.get("logs");
    const select = document.getElementById("log-files");
    select.replaceChildren();
    for (const file of files) {
      const option = document.createElement("option");
      option.value = option.textContent = file.name;
      select.append(option);
    }
  },
};

function saver(area) {
  document.getElementById(area + "-save").onclick = async () => {
    try {
      const reply = await api.post(area, { text: document.getElementById(area + "-text").value });
      document.getElementById(area + "-text").value = reply.text;
      say("Saved.");
    } catch (error) {
      say(error.message, true);
    }
  };
}

async function show() {
  const name = (location.hash || "#status").slice(1);
  for (const page of document.querySelectorAll(".page")) page.classList.toggle("current", page.id === "page-" + name);
  for (const link of document.querySelectorAll("nav a")) link.classList.toggle("current", link.hash === "#" + name);
  say("");
  try {
    if (pages[name]) await pages[name]();
  } catch (error) {
    say(error.message, true);
  }
}

for (const area of ["flash", "corp", "redirect"]) saver(area);
document.getElementById("settings-filter").oninput = () => pages.settings();
for (const button of document.querySelectorAll("[data-action]")) {
  button.onclick = () => api.post("actions/" + button.dataset.action).then(
      () => say(button.textContent + ": done."), (error) => say(error.message, true));
}
document.getElementById("cache-dump").onclick = () => api.post("cache-dump").then(
    (reply) => say("Report written to " + reply.file), (error) => say(error.message, true));
// The lines of one log file, a page at a time.
const logPageLines = 200;
let logFrom = 0;

async function showLogLines() {
  const file = document.getElementById("log-files").value;
  const filter = encodeURIComponent(document.getElementById("log-filter").value);
  try {
    const { lines } = await api.get("logs/" + encodeURIComponent(file) + "?from=" + logFrom + "&count=" +
                                    logPageLines + "&filter=" + filter);
    document.getElementById("log-lines").textContent = lines.join("\n");
    document.getElementById("log-position").textContent =
        lines.length ? `lines ${logFrom + 1} to ${logFrom + lines.length}` : "no more lines";
  } catch (error) {
    say(error.message, true);
  }
}

document.getElementById("log-show").onclick = () => { logFrom = 0; showLogLines(); };
document.getElementById("log-next").onclick = () => { logFrom += logPageLines; showLogLines(); };
document.getElementById("log-previous").onclick = () => { logFrom = Math.max(0, logFrom - logPageLines); showLogLines(); };

document.getElementById("corp-enabled").onchange = async (event) => {
  try {
    await api.post("settings", { name: "EnableCorpChannel", value: event.target.checked });
    say(event.target.checked ? "The corporate channel is served." : "The corporate channel is switched off.");
  } catch (error) {
    say(error.message, true);
  }
};

// The agent kinds of the transaction log's x-agent field.
const agentNames = { 0: "pass-through", 1: "corporate", 3: "proxy cache", 5: "redirection", 6: "admin",
                     8: "Notes", 9: "null" };

function tally(id, rows, name) {
  const body = document.querySelector("#" + id + " tbody");
  body.replaceChildren();
  for (const row of rows) {
    const tr = body.insertRow();
    cell(tr, name ? name(row.key) : row.key);
    cell(tr, String(row.requests)).className = "number";
    cell(tr, String(row.bytes)).className = "number";
  }
}

// Bars of the requests per minute, scaled to the busiest minute.
function drawMinutes(minutes) {
  const svg = document.getElementById("analysis-chart");
  const ns = "http://www.w3.org/2000/svg";
  svg.replaceChildren();
  const top = Math.max(1, ...minutes.map((minute) => minute.requests));
  const width = Math.min(40, 700 / Math.max(1, minutes.length));
  minutes.forEach((minute, i) => {
    const rect = document.createElementNS(ns, "rect");
    const height = (minute.requests / top) * 130;
    rect.setAttribute("x", String(10 + i * width));
    rect.setAttribute("y", String(140 - height));
    rect.setAttribute("width", String(Math.max(1, width - 1)));
    rect.setAttribute("height", String(height));
    const title = document.createElementNS(ns, "title");
    title.textContent = `${minute.minute}: ${minute.requests} requests`;
    rect.append(title);
    svg.append(rect);
  });
  const label = document.createElementNS(ns, "text");
  label.setAttribute("x", "10");
  label.setAttribute("y", "155");
  label.textContent = `busiest minute: ${top} requests`;
  svg.append(label);
}

document.getElementById("analysis-run").onclick = async () => {
  const bound = (id) => encodeURIComponent(document.getElementById(id).value);
  try {
    const result = await api.get(`logs/analysis?from=${bound("analysis-from")}&to=${bound("analysis-to")}`);
    document.getElementById("analysis-result").hidden = false;
    document.getElementById("analysis-totals").textContent =
        `${result.requests} requests, ${result.bytes} bytes` + (result.truncated ? " (part of the logs only)" : "");
    drawMinutes(result.perMinute);
    const minutes = result.perMinute;
    document.getElementById("analysis-span").textContent =
        minutes.length ? `${minutes[0].minute} to ${minutes[minutes.length - 1].minute}` : "no requests in the range";
    const times = document.querySelector("#analysis-times tbody");
    times.replaceChildren();
    const row = times.insertRow();
    for (const key of ["p50", "p90", "p99", "max"]) cell(row, result.timeTaken[key].toFixed(4) + " s");
    tally("analysis-agents", result.byAgent, (key) => (agentNames[key] ? `${key} (${agentNames[key]})` : key));
    tally("analysis-statuses", result.byStatus);
    tally("analysis-categories", result.byCategory);
    say("");
  } catch (error) {
    say(error.message, true);
  }
};

function showProbe(title, probe) {
  const box = document.createElement("div");
  box.className = "probe";
  const heading = document.createElement("h3");
  heading.textContent = title;
  const facts = document.createElement("p");
  facts.textContent = (probe.target ? probe.target + ": " : "") +
      (probe.status ? "status " + probe.status : "no answer") + `, ${probe.milliseconds} ms, ` +
      `${probe.bodyBytes} body bytes` + (probe.error ? ` (${probe.error})` : "");
  const header = document.createElement("pre");
  header.textContent = probe.header;
  const body = document.createElement("pre");
  body.textContent = probe.bodyStart;
  box.append(heading, facts, header, body);
  document.getElementById("diagnostics-results").append(box);
}

document.getElementById("diagnostics-run").onclick = async () => {
  document.getElementById("diagnostics-results").replaceChildren();
  say("Asking...");
  try {
    const result = await api.post("diagnostics", { category: document.getElementById("diagnostics-category").value,
                                                   target: document.getElementById("diagnostics-target").value });
    document.getElementById("diagnostics-request").textContent = result.request;
    if (result.relay) showProbe("The relay", result.relay);
    if (result.dataCentre) showProbe("The data centre", result.dataCentre);
    say("");
  } catch (error) {
    say(error.message, true);
  }
};

document.getElementById("relays-run").onclick = async () => {
  say("Listening for relays...");
  try {
    const result = await api.get("relays");
    document.getElementById("relays-where").textContent = `broadcast to ${result.broadcast}, port ${result.port}`;
    const body = document.querySelector("#relays tbody");
    body.replaceChildren();
    for (const relay of result.relays) {
      const row = body.insertRow();
      for (const value of [relay.address, relay.port, relay.computerName, relay.registrationId]) cell(row, String(value));
      const counters = relay.counters || {};
      for (const key of ["idle_threads", "working_threads", "refused_total", "accepted_total"]) {
        cell(row, key in counters ? String(counters[key]) : "-").className = "number";
      }
    }
    say(result.relays.length + " relay(s) answered.");
  } catch (error) {
    say(error.message, true);
  }
};

window.addEventListener("hashchange", show);
show();
