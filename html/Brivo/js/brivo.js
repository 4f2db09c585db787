// Behaviour of the Brivo RAID module's pages, loaded after /js/kestrova.js (whose cgiUrl it
// uses). Each page names itself in <body data-page="brivo-...">; the matching setup runs once the
// document is parsed. Server values reach the script only through data-* attributes and form
// fields that the templates fill (HTML-escaped), never as script text.
//
// The monitor page keeps itself current: every few seconds it posts its hidden ping form (the
// event numbers and enclosure counts it showed, and the arrays whose progress bars it shows) to
// PingPage, moves the progress bars to the percents of the answer, and reloads when the answer
// holds "UpdatePage". Forms and links marked data-popup open their answer (the message panel) in
// a small window, whose OK button reloads this page when the command asks for it.
"use strict";

const BRIVO_PING_SECONDS = 5;

// The answer of PingPage as {update, percents: [{device, array, percent}]}, or null when the
// answer is not the ping page (server restarting, error page, network failure).
async function brivoPing(form) {
  try {
    const response = await fetch(cgiUrl("Brivo", "PingPage"), {
      method: "POST", body: new URLSearchParams(new FormData(form)), cache: "no-store", credentials: "same-origin",
    });
    if (!response.ok) return null;
    const doc = new DOMParser().parseFromString(await response.text(), "text/html");
    const marker = doc.querySelector('[data-marker="brivo-ping"]');
    if (!marker) return null;
    const percents = [];
    for (const row of doc.querySelectorAll("[data-percent-array]")) {
      percents.push({ device: row.dataset.device, array: row.dataset.percentArray, percent: row.dataset.percent });
    }
    return { update: marker.dataset.updatePage === "true", percents: percents };
  } catch (e) {
    return null;
  }
}

function brivoSetProgress(device, array, percent) {
  const selector = '.progress[data-device="' + CSS.escape(device) + '"][data-array="' + CSS.escape(array) + '"]';
  for (const bar of document.querySelectorAll(selector)) {
    bar.querySelector("span").style.width = percent + "%";
    bar.querySelector("em").textContent = percent + "%";
  }
}

function brivoShowProgressBars() {
  for (const bar of document.querySelectorAll(".progress[data-percent]")) {
    brivoSetProgress(bar.dataset.device, bar.dataset.array, bar.dataset.percent);
  }
}

function setupBrivoMonitor() {
  brivoShowProgressBars();
  const form = document.getElementById("ping-form");
  const note = document.getElementById("refresh-note");
  if (!form) return;
  let outage = false;
  let busy = false;
  const poll = async () => {
    if (busy) return;
    busy = true;
    const answer = await brivoPing(form);
    busy = false;
    if (answer === null) {
      outage = true;
      if (note) {
        note.textContent = "The server does not answer; this page reloads when it is back.";
        note.classList.add("lost");
      }
      return;
    }
    if (outage || answer.update) {
      window.location.reload();
      return;
    }
    for (const row of answer.percents) brivoSetProgress(row.device, row.array, row.percent);
    if (note) note.textContent = "Updated " + new Date().toLocaleTimeString();
  };
  window.setInterval(poll, BRIVO_PING_SECONDS * 1000);
}

function setupBrivoWaiting() {
  window.setTimeout(() => window.location.reload(), 3000);
}

function setupBrivoFrame() {
  const target = document.getElementById("monitor-link");
  if (target) window.location.replace(target.href);
}

// Opens the answers of forms and links marked data-popup in one small window.
function brivoPopups() {
  const open = () => {
    const popup = window.open("", "brivo_popup", "width=560,height=360,resizable=yes,scrollbars=yes");
    if (popup) popup.focus();
  };
  for (const form of document.querySelectorAll("form[data-popup]")) {
    form.target = "brivo_popup";
    form.addEventListener("submit", (event) => {
      if (!event.defaultPrevented) open();
    });
  }
  for (const link of document.querySelectorAll("a[data-popup]")) {
    link.target = "brivo_popup";
    link.addEventListener("click", open);
  }
}

// The create-array form: profiles fill the fields, the drive count and the level's minimum are
// shown, the parity field appears for RAID 50 only.
function setupBrivoCreateArray() {
  const form = document.getElementById("create-form");
  if (!form) return;
  const level = form.elements.RaidLevel;
  const count = document.getElementById("selected-count");
  const warning = document.getElementById("drive-warning");
  const parityRow = document.querySelectorAll(".parity-row");
  const boxes = () => Array.from(form.querySelectorAll("input[type=checkbox][data-drive]"));
  const update = () => {
    const chosen = boxes().filter((box) => box.checked);
    const option = level.selectedOptions[0];
    const minimum = option ? Number(option.dataset.min || "1") : 1;
    count.textContent = String(chosen.length);
    let text = "";
    if (chosen.length > 16) text = "An array takes at most 16 drives.";
    else if (chosen.length < minimum) text = option.textContent + " needs at least " + minimum + " drives.";
    warning.textContent = text;
    for (const row of parityRow) row.hidden = level.value !== "80";
  };
  form.addEventListener("change", update);
  if (level.querySelector('option[value="5"]')) level.value = "5";
  const profile = document.getElementById("profile");
  if (profile) {
    profile.addEventListener("change", () => {
      const chosen = profile.selectedOptions[0];
      if (!chosen || !chosen.value) return;
      const set = (name, value) => {
        if (value !== undefined && value !== "" && form.elements[name]) form.elements[name].value = value;
      };
      set("RaidLevel", chosen.dataset.level);
      set("ChunkSize", chosen.dataset.chunk);
      set("ReadAheadCacheSize", chosen.dataset.readAhead);
      set("WriteBackCacheSize", chosen.dataset.writeBack);
      set("UnusedPercent", chosen.dataset.unused);
      update();
    });
  }
  form.addEventListener("submit", (event) => {
    update();
    if (warning.textContent !== "" && !window.confirm(warning.textContent + " Send the request anyway?")) {
      event.preventDefault();
    }
  });
  update();
}

// The array page: the progress bar, and the delete form, which goes back to the monitor once the
// array is gone (without this script its answer replaces the page).
function setupBrivoRank() {
  brivoShowProgressBars();
  const form = document.getElementById("delete-form");
  if (!form) return;
  const result = document.getElementById("delete-result");
  form.addEventListener("submit", async (event) => {
    if (event.defaultPrevented) return;
    event.preventDefault();
    let notice = null;
    try {
      const response = await fetch(form.action, {
        method: "POST", body: new URLSearchParams(new FormData(form)), credentials: "same-origin",
      });
      const doc = new DOMParser().parseFromString(await response.text(), "text/html");
      notice = doc.querySelector(".notice");
    } catch (e) {
      notice = null;
    }
    if (notice && notice.dataset.success === "true") {
      window.location.href = form.dataset.then;
      return;
    }
    result.hidden = false;
    result.dataset.success = "false";
    result.querySelector("strong").textContent = notice ? notice.querySelector("strong").textContent : "The server did not answer.";
    result.querySelector("p").textContent = notice ? notice.querySelector("p").textContent : "";
  });
}

// Marks the module menu's entry of the page shown (the method of this address, or of the form
// whose kept answer this is).
function brivoMarkMenu() {
  const method = new URLSearchParams(window.location.search).get("method") || "";
  for (const link of document.querySelectorAll(".module-menu a[data-methods]")) {
    const methods = link.dataset.methods.split(" ").map((m) => m.toLowerCase());
    link.classList.toggle("active", methods.includes(method.toLowerCase()));
  }
}

const BRIVO_SETUP = {
  "brivo-monitor": setupBrivoMonitor,
  "brivo-waiting": setupBrivoWaiting,
  "brivo-frame": setupBrivoFrame,
  "brivo-create-array": setupBrivoCreateArray,
  "brivo-rank": setupBrivoRank,
  "brivo-overview": setupBrivoMonitor,
};

document.addEventListener("DOMContentLoaded", () => {
  brivoPopups();
  brivoMarkMenu();
  const setup = BRIVO_SETUP[document.body.dataset.page];
  if (setup) setup();
});
