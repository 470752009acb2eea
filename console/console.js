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
    for (const [name, value] of [["Version", status.version + " (" + status.build + ")"],
                                 ["Running since", status.runningSince]]) {
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
  async corp() { document.getElementById("corp-text").value = (await api.get("corp")).text; },
  async redirect() { document.getElementById("redirect-text").value = (await api.get("redirect")).text; },
  async actions() {},

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
document.getElementById("log-show").onclick = async () => {
  const file = document.getElementById("log-files").value;
  const filter = encodeURIComponent(document.getElementById("log-filter").value);
  try {
    const { lines } = await api.get("logs/" + encodeURIComponent(file) + "?count=1000&filter=" + filter);
    document.getElementById("log-lines").textContent = lines.join("\n");
  } catch (error) {
    say(error.message, true);
  }
};
window.addEventListener("hashchange", show);
show();
