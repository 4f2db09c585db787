// Behaviour of the web pages: one small script that every template loads. Each page names itself
// in <body data-page="...">; the matching setup below runs once the document is parsed. The
// server's values reach the script only through data-* attributes that the templates fill
// (HTML-escaped), never as script text.
//
// Polling pages (network bar, rescan, tech support) fetch another rendered template and read its
// marker element (data-marker) instead of parsing prose, so a page that the front end answers
// instead (an error, "the server is restarting") is told apart from a real answer.
"use strict";

const CGI_PATH = "/cgi-bin/cgiloader.cgi";

// The page token the front end puts into every page it renders: the server takes a request that
// changes data from a browser only when it carries it. Forms get it as a hidden field from the
// front end; the page's own POSTs (fetch, XMLHttpRequest) get it here as a header, so that no
// page script has to remember it.
(function sendPageTokenWithPosts() {
  const meta = document.querySelector('meta[name="kestrova-page-token"]');
  const token = meta ? meta.content : "";
  if (!token) return;
  const sameOrigin = (url) => {
    try {
      return new URL(url, window.location.href).origin === window.location.origin;
    } catch (e) {
      return false;
    }
  };
  const plainFetch = window.fetch.bind(window);
  window.fetch = (resource, options) => {
    const request = resource instanceof Request ? resource : null;
    const method = ((options && options.method) || (request && request.method) || "GET").toUpperCase();
    const url = request ? request.url : String(resource);
    if (method !== "POST" || !sameOrigin(url)) return plainFetch(resource, options);
    const headers = new Headers((options && options.headers) || (request && request.headers) || undefined);
    headers.set("X-Kestrova-Token", token);
    return plainFetch(resource, Object.assign({}, options, { headers: headers }));
  };
  const plainOpen = XMLHttpRequest.prototype.open;
  const plainSend = XMLHttpRequest.prototype.send;
  XMLHttpRequest.prototype.open = function (method, url, ...rest) {
    this.kestrovaPost = String(method).toUpperCase() === "POST" && sameOrigin(url);
    return plainOpen.call(this, method, url, ...rest);
  };
  XMLHttpRequest.prototype.send = function (body) {
    if (this.kestrovaPost) this.setRequestHeader("X-Kestrova-Token", token);
    return plainSend.call(this, body);
  };
})();

// URL of a module method with extra query fields, every value encoded.
function cgiUrl(module, method, fields) {
  const query = new URLSearchParams({ module: module, method: method });
  for (const [key, value] of Object.entries(fields || {})) query.append(key, value);
  return CGI_PATH + "?" + query.toString();
}

// Fetches url and returns the data-* fields of its element marked data-marker=marker, or null
// when the answer is not that page (server restarting, error page, network failure).
async function fetchMarked(url, marker, options) {
  try {
    const response = await fetch(url, Object.assign({ cache: "no-store", credentials: "same-origin" }, options));
    if (!response.ok) return null;
    const text = await response.text();
    const doc = new DOMParser().parseFromString(text, "text/html");
    const element = doc.querySelector('[data-marker="' + marker + '"]');
    return element ? Object.assign({}, element.dataset) : null;
  } catch (e) {
    return null;
  }
}

// Global status code (hex text): bit 1 failure, bit 0 warning.
function statusClass(hex) {
  const value = parseInt(hex, 16);
  if (Number.isNaN(value)) return "";
  if (value & 2) return "fail";
  if (value & 1) return "warn";
  return "ok";
}

const LEVEL_NAMES = { 0: "Information", 1: "Warning", 2: "Error", 4: "Information" };

function setupCommon() {
  if (window.top === window) document.body.classList.add("standalone");
  for (const dot of document.querySelectorAll(".status-dot[data-status]")) {
    const cls = statusClass(dot.dataset.status);
    if (cls) dot.classList.add(cls);
    dot.title = { ok: "OK", warn: "Warning", fail: "Error" }[cls] || "Unknown";
    if (dot.dataset.explained) dot.title = "Global status: " + dot.title + ". The start page names what set it.";
  }
  for (const cell of document.querySelectorAll(".level[data-level]")) {
    const name = LEVEL_NAMES[cell.dataset.level];
    if (name) cell.textContent = name;
  }
  // A command result without details leaves no empty line.
  for (const details of document.querySelectorAll(".notice p")) {
    if (details.textContent.trim() === "") details.hidden = true;
  }
  // Buttons that ask first: <button data-confirm="text">.
  for (const button of document.querySelectorAll("[data-confirm]")) {
    button.addEventListener("click", (event) => {
      if (!window.confirm(button.dataset.confirm)) event.preventDefault();
    });
  }
  // Forms that only work with this script keep their buttons disabled until now.
  for (const button of document.querySelectorAll("[data-script-enables]")) button.disabled = false;
}

// Keeps the network bar's frame as tall as its content, no taller: the height is measured from
// the content itself (the document's scroll height never drops below the frame's own height, so
// a frame sized by it grows when a list opens and never shrinks back).
function fitFrame() {
  if (!window.frameElement) return;
  let bottom = 0;
  for (const child of document.body.children) bottom = Math.max(bottom, child.getBoundingClientRect().bottom);
  const style = window.getComputedStyle(document.body);
  const height = Math.ceil(bottom + window.scrollY + parseFloat(style.paddingBottom || "0") + parseFloat(style.marginBottom || "0"));
  if (height > 0) window.frameElement.style.height = height + "px";
}

function setupNetbar() {
  const body = document.body;
  const disabledByRescan = body.dataset.buttons === "false";
  fitFrame();
  window.addEventListener("resize", fitFrame);
  for (const details of document.querySelectorAll("details")) details.addEventListener("toggle", fitFrame);
  if (disabledByRescan) for (const button of document.querySelectorAll(".rescan button")) button.disabled = true;
  let outage = false;
  const poll = async () => {
    const fields = { NumberOfNetworkChanges: body.dataset.changes || "" };
    if (disabledByRescan) fields.DisabledByRescan = "true";
    const ping = await fetchMarked(cgiUrl("server", "PingPage", fields), "server-ping");
    // After an outage (restart, rescan) the server's counters start anew: always reload.
    if (ping === null) outage = true;
    else if (outage || ping.needUpdate === "true") window.location.reload();
  };
  window.setInterval(poll, 5000);
}

function setupShell() {
  const main = document.getElementById("main");
  const bar = document.getElementById("netbar");
  // Marks the bar's menu entry of the page shown below it.
  const markActive = () => {
    let method = "";
    try {
      method = new URLSearchParams(main.contentWindow.location.search).get("method") || "";
    } catch (e) {
      return;
    }
    let barDoc;
    try {
      barDoc = bar.contentDocument;
    } catch (e) {
      return;
    }
    if (!barDoc) return;
    for (const link of barDoc.querySelectorAll(".menu [data-methods]")) {
      link.classList.toggle("active", link.dataset.methods.split(" ").includes(method));
    }
  };
  main.addEventListener("load", markActive);
  bar.addEventListener("load", markActive);
}

function setupEventLog() {
  const params = new URLSearchParams(window.location.search);
  const count = params.get("numberToDisplay");
  const select = document.getElementById("numberToDisplay");
  if (select && count) select.value = count;
  if (select) select.addEventListener("change", () => select.form.submit());
  // Paging keeps the chosen page size.
  if (count) {
    for (const link of document.querySelectorAll("a[data-keep-size]")) {
      const url = new URL(link.href, window.location.href);
      url.searchParams.set("numberToDisplay", count);
      link.href = url.pathname + url.search;
    }
  }
  nameThePairs();
  const first = document.querySelector("#log-rows tr[data-number]");
  const last = document.querySelector("#log-rows tr[data-number]:last-child");
  const range = document.getElementById("range");
  if (range && first && last) {
    range.textContent = "Records " + last.dataset.number + " to " + first.dataset.number + " of " + range.dataset.total;
  }
}

// The log names a RAID controller pair by its WWN ("Brivo 20000004CF8A1B2C (0)"); the pages by
// its name and WWN. Each such device cell gets the pair's name beside it, as the RAID module
// reports it (nothing changes when the module does not answer).
async function nameThePairs() {
  const cells = document.querySelectorAll("#log-rows td.device");
  if (cells.length === 0) return;
  let names = {};
  try {
    const response = await fetch("/api/Brivo/GetPairNames", { cache: "no-store", credentials: "same-origin" });
    if (!response.ok) return;
    for (const pair of (await response.json()).PairLoop || []) {
      if (pair.Wwn && pair.Name) names[pair.Wwn.toUpperCase()] = pair.Name;
    }
  } catch (e) {
    return;
  }
  for (const cell of cells) {
    const match = /^Brivo ([0-9A-Fa-f]{16})\b/.exec(cell.textContent);
    const name = match ? names[match[1].toUpperCase()] : undefined;
    if (!name) continue;
    const label = document.createElement("span");
    label.className = "pair-name";
    label.textContent = " " + name;
    cell.appendChild(label);
  }
}

// Three check boxes (I, W, E) that edit an IWE filter text held in a hidden field, or that are
// posted as booleans (SNMP, syslog) and only take their first state from the text.
function setupIweGroup(group) {
  const text = group.dataset.iwe || "";
  const boxes = group.querySelectorAll("input[type=checkbox][data-pos]");
  for (const box of boxes) box.checked = text.charAt(Number(box.dataset.pos)) === "1";
  const target = group.querySelector("input[type=hidden][data-iwe-text]");
  if (!target) return;
  const update = () => {
    let digits = "";
    for (const box of boxes) digits += box.checked ? "1" : "0";
    target.value = digits;
  };
  for (const box of boxes) box.addEventListener("change", update);
  if (target.value.length < 3) update();
}

// The stored signature text uses \r, \n, \\ and \" escapes; the page edits and posts plain text.
function unescapeSignature(text) {
  return text.replace(/\\([rn\\"])/g, (match, c) => ({ r: "\r", n: "\n", "\\": "\\", '"': '"' })[c]);
}

// The test buttons send with the values on the page, saved or not, and the answer shows them
// again, so nothing needs confirming.
function markDirty(form) {
  form.addEventListener("input", () => (form.dataset.dirty = "true"));
  form.addEventListener("change", () => (form.dataset.dirty = "true"));
}

// A select whose stored value is in data-value.
function selectStored(select) {
  if (select && select.dataset.value) select.value = select.dataset.value;
}

function setupMailSettings() {
  const form = document.getElementById("settings");
  for (const row of form.querySelectorAll("tr[data-row]")) {
    const number = Number(row.dataset.row) + 1;  // the server numbers recipients from 1
    for (const input of row.querySelectorAll("[data-name]")) input.name = input.dataset.name + number;
  }
  for (const group of form.querySelectorAll(".iwe")) {
    // An unused row offers every level, so that an address typed into it gets all events.
    const address = group.closest("tr").querySelector("[data-name=emailAddr]");
    if (address.value === "" && (group.dataset.iwe || "") === "") {
      group.dataset.iwe = "111";
      group.querySelector("[data-iwe-text]").value = "";
    }
    setupIweGroup(group);
  }
  const signature = document.getElementById("emailSigText");
  signature.value = unescapeSignature(signature.dataset.stored || "");
  const enable = document.getElementById("sigEnableBox");
  const enableField = document.getElementById("emailSigEnable");
  enable.checked = enableField.value === "true" || enableField.value === "1";
  enable.addEventListener("change", () => (enableField.value = enable.checked ? "true" : "false"));
  selectStored(document.getElementById("emailSecurity"));
  markDirty(form);
}

// SNMP and syslog receivers: rows are renumbered from 0 when the form is sent.
function setupReceivers() {
  const form = document.getElementById("settings");
  const body = document.getElementById("receivers");
  const template = document.getElementById("receiver-template");
  const limit = Number(body.dataset.limit || "5");
  const addButton = document.getElementById("add-receiver");
  const refresh = () => {
    addButton.disabled = body.querySelectorAll("tr").length >= limit;
  };
  const wire = (row) => {
    for (const group of row.querySelectorAll(".iwe")) setupIweGroup(group);
    for (const select of row.querySelectorAll("select[data-value]")) selectStored(select);
    const remove = row.querySelector("button.remove");
    if (remove) remove.addEventListener("click", () => {
      row.remove();
      form.dataset.dirty = "true";
      refresh();
    });
  };
  const addRow = () => {
    const row = template.content.firstElementChild.cloneNode(true);
    body.appendChild(row);
    wire(row);
    refresh();
    return row;
  };
  for (const row of body.querySelectorAll("tr")) wire(row);
  if (body.querySelectorAll("tr").length === 0) addRow();
  addButton.addEventListener("click", () => {
    const row = addRow();
    const first = row.querySelector("input[type=text]");
    if (first) first.focus();
  });
  form.addEventListener("submit", () => {
    body.querySelectorAll("tr").forEach((row, index) => {
      for (const input of row.querySelectorAll("[data-name]")) input.name = input.dataset.name + index;
    });
  });
  refresh();
  markDirty(form);
}

function setupPassword() {
  const params = new URLSearchParams(window.location.search);
  const notice = document.querySelector(".notice");
  // The form page is the answer to a request without passwords, whose result means nothing.
  if (notice && !params.has("Submitted")) notice.hidden = true;
  const form = document.getElementById("password-form");
  const confirmField = document.getElementById("ConfirmPassword");
  form.addEventListener("submit", (event) => {
    if (form.NewPassword.value !== confirmField.value) {
      event.preventDefault();
      confirmField.setCustomValidity("The two new passwords differ.");
      confirmField.reportValidity();
    }
  });
  confirmField.addEventListener("input", () => confirmField.setCustomValidity(""));
  if (params.has("Submitted") && document.body.dataset.redirect === "true") {
    form.hidden = true;
    document.getElementById("relogin").hidden = false;
    // The server changes the password a few seconds after answering; then the browser has to
    // ask for the new one.
    window.setTimeout(() => (window.top.location.href = cgiUrl("server", "LoadIndex")), 9000);
  }
}

function setupRescan() {
  const body = document.body;
  const target = cgiUrl(body.dataset.afterModule || "server", body.dataset.afterMethod || "GetMainPage");
  const started = Date.now();
  const elapsed = document.getElementById("elapsed");
  const poll = async () => {
    if (elapsed) elapsed.textContent = Math.round((Date.now() - started) / 1000) + " s";
    const ping = await fetchMarked(cgiUrl("server", "SessionPing"), "session-ping");
    if (ping !== null) window.location.href = target;
    else window.setTimeout(poll, 2000);
  };
  window.setTimeout(poll, 2000);
}

function setupTechSupport() {
  const form = document.getElementById("techsupport-form");
  const button = document.getElementById("collect");
  const status = document.getElementById("collect-status");
  const statusText = document.getElementById("collect-text");
  let started = 0;
  const show = (text, busy) => {
    status.hidden = false;
    statusText.textContent = text;
    status.querySelector(".spinner").hidden = !busy;
  };
  // Waits while a collection (ours or another one) runs on the server.
  const watch = async () => {
    const ping = await fetchMarked(cgiUrl("server", "TechSupportPing"), "techsupport-ping");
    const running = ping !== null && ping.running === "true";
    if (started) return;  // our own request reports its end itself
    if (running) {
      button.disabled = true;
      show("Another collection is running on the server. This page waits for it to finish.", true);
      window.setTimeout(watch, 2000);
    } else {
      button.disabled = false;
      status.hidden = true;
    }
  };
  if (document.body.dataset.running === "true") watch();
  form.addEventListener("submit", async (event) => {
    event.preventDefault();
    button.disabled = true;
    started = Date.now();
    const timer = window.setInterval(() => {
      show("Collecting the information... " + Math.round((Date.now() - started) / 1000) + " s", true);
    }, 1000);
    show("Collecting the information...", true);
    try {
      const response = await fetch(form.action, { method: "POST", body: new FormData(form), credentials: "same-origin" });
      const type = response.headers.get("Content-Type") || "";
      if (!response.ok) throw new Error("the server answered " + response.status);
      if (type.includes("text/html")) {
        // A page instead of the archive: show its message (for example, a collection is running).
        const doc = new DOMParser().parseFromString(await response.text(), "text/html");
        const message = doc.querySelector(".notice strong, .notice p, main");
        show(message ? message.textContent.trim() : "The server did not send the archive.", false);
      } else {
        const blob = await response.blob();
        const disposition = response.headers.get("Content-Disposition") || "";
        const match = /filename="?([^";]+)"?/.exec(disposition);
        const link = document.createElement("a");
        link.href = URL.createObjectURL(blob);
        link.download = match ? match[1] : "kestrova-techsupport.archive";
        document.body.appendChild(link);
        link.click();
        link.remove();
        show("The archive was saved as " + link.download + ". Send it to your support contact.", false);
      }
    } catch (e) {
      show("The collection failed: " + e.message, false);
    } finally {
      window.clearInterval(timer);
      started = 0;
      button.disabled = false;
    }
  });
}

function setupPopup() {
  const body = document.body;
  document.getElementById("popup-ok").addEventListener("click", () => {
    const opener = window.opener && !window.opener.closed ? window.opener : null;
    if (opener) {
      if (body.dataset.updateParent === "true") opener.location.reload();
      if (body.dataset.closeParent === "true" && opener.opener) opener.close();
      window.close();
    } else if (window.history.length > 1) {
      window.history.back();
    } else {
      window.location.href = cgiUrl("server", "GetMainPage");
    }
  });
}

const PAGE_SETUP = {
  shell: setupShell,
  netbar: setupNetbar,
  "event-log": setupEventLog,
  "settings-mail": setupMailSettings,
  "settings-receivers": setupReceivers,
  password: setupPassword,
  rescan: setupRescan,
  techsupport: setupTechSupport,
  popup: setupPopup,
};

document.addEventListener("DOMContentLoaded", () => {
  setupCommon();
  const setup = PAGE_SETUP[document.body.dataset.page];
  if (setup) setup();
});
