// Behaviour of the RAID module's action pages (logical drives, drives, controller parameters,
// host ports, statistics and the controller reset window), loaded after /js/kestrova.js and
// /Brivo/js/brivo.js. Pages name themselves in <body data-page="brivo-...">; server values reach
// the script only through data-* attributes and form fields (HTML-escaped), never as script text.
//
// Forms marked data-inline send their request in the background and show the answer's message
// panel (its .notice) in the element named by data-result; on success the page reloads, or goes
// to data-then. Without the script these forms post normally and the message panel replaces the
// page, which still tells the outcome.
"use strict";

const BRIVO_RESET_POLL_SECONDS = 3;
const BRIVO_RESET_GIVE_UP_SECONDS = 600;

// The .notice of an answer as {success, summary, details}, or null when the answer holds none.
async function brivoNoticeOf(response) {
  const doc = new DOMParser().parseFromString(await response.text(), "text/html");
  const notice = doc.querySelector(".notice");
  if (!notice) return null;
  const strong = notice.querySelector("strong");
  const details = notice.querySelector("p");
  return {
    success: notice.dataset.success === "true",
    summary: strong ? strong.textContent : "",
    details: details ? details.textContent.trim() : "",
  };
}

function brivoShowNotice(box, notice) {
  box.hidden = false;
  box.dataset.success = notice.success ? "true" : "false";
  box.querySelector("strong").textContent = notice.summary;
  const details = box.querySelector("p");
  details.textContent = notice.details;
  details.hidden = notice.details === "";
}

// Sends an upload form with its progress shown in the form's <progress>; resolves to a Response
// of the answer, as fetch would.
function brivoUpload(form) {
  const bar = form.querySelector("progress");
  return new Promise((resolve, reject) => {
    const request = new XMLHttpRequest();
    request.open("POST", form.action);
    request.withCredentials = true;
    if (bar) {
      bar.hidden = false;
      bar.value = 0;
      request.upload.addEventListener("progress", (event) => {
        if (event.lengthComputable) bar.value = Math.round((event.loaded * 100) / event.total);
      });
    }
    request.addEventListener("load", () => {
      if (bar) bar.value = 100;
      resolve(new Response(request.responseText, { status: request.status }));
    });
    request.addEventListener("error", () => reject(new Error("upload failed")));
    request.send(new FormData(form));
  });
}

function brivoInlineForms() {
  for (const form of document.querySelectorAll("form[data-inline]")) {
    form.addEventListener("submit", async (event) => {
      if (event.defaultPrevented) return;
      event.preventDefault();
      const box = document.getElementById(form.dataset.result);
      const buttons = form.querySelectorAll("button");
      for (const button of buttons) button.disabled = true;
      let notice = null;
      try {
        const response = form.hasAttribute("data-upload")
          ? await brivoUpload(form)
          : await fetch(form.action, { method: "POST", body: new FormData(form), credentials: "same-origin" });
        notice = await brivoNoticeOf(response);
      } catch (e) {
        notice = null;
      }
      for (const button of buttons) button.disabled = false;
      if (notice === null) notice = { success: false, summary: "The server did not answer.", details: "" };
      if (box) brivoShowNotice(box, notice);
      if (!notice.success) return;
      window.setTimeout(() => {
        if (form.dataset.then) window.location.href = form.dataset.then;
        else window.location.reload();
      }, 1200);
    });
  }
}

// Creation and expansion: ticking regions fills the capacity field with what they hold, and
// the form is not sent for more than that.
function setupBrivoRegions() {
  const form = document.getElementById("region-form");
  if (!form) return;
  const capacity = form.elements.Capacity;
  const total = document.getElementById("chosen-space");
  const boxes = () => Array.from(form.querySelectorAll("input[type=checkbox][data-space]"));
  const chosen = () => boxes().filter((box) => box.checked).reduce((sum, box) => sum + Number(box.dataset.space), 0);
  const update = () => {
    const space = chosen();
    total.textContent = String(space);
    capacity.max = String(space);
    capacity.setCustomValidity(Number(capacity.value) > space ? "The ticked regions hold " + space + " GB." : "");
  };
  for (const box of boxes()) {
    box.addEventListener("change", () => {
      if (box.checked && capacity.value === "") capacity.value = String(chosen());
      update();
    });
  }
  capacity.addEventListener("input", update);
  update();
  // An internal logical drive gets neither ports nor a host LUN.
  const internal = form.elements.CreateInternalLd;
  const hostOnly = document.querySelectorAll(".host-only");
  if (internal) {
    const toggle = () => {
      for (const element of hostOnly) element.hidden = internal.checked;
      if (form.elements.MappedLunNumber) form.elements.MappedLunNumber.required = !internal.checked;
    };
    internal.addEventListener("change", toggle);
    toggle();
  }
}

// The reset window polls the reset method with "Waiting" until the controllers answer again.
function setupBrivoReset() {
  const body = document.body;
  const status = document.getElementById("reset-status");
  const text = document.getElementById("reset-text");
  document.getElementById("close-window").addEventListener("click", () => window.close());
  if (body.dataset.started !== "true") return;
  const started = Date.now();
  const show = (message, busy) => {
    text.textContent = message;
    status.querySelector(".spinner").hidden = !busy;
  };
  const poll = async () => {
    const seconds = Math.round((Date.now() - started) / 1000);
    if (seconds > BRIVO_RESET_GIVE_UP_SECONDS) {
      show("The controllers did not answer within " + BRIVO_RESET_GIVE_UP_SECONDS / 60 + " minutes. Check them on the monitor page.", false);
      return;
    }
    // A POST: the reset method changes data, and only this server's pages' POSTs reach it.
    const answer = await fetchMarked(cgiUrl("Brivo", "ResetController", {
      ModDeviceName: body.dataset.device, ControllerId: body.dataset.controller, Waiting: "true",
    }), "brivo-reset", { method: "POST" });
    if (answer !== null && answer.doneWaiting === "true") {
      show(body.dataset.controllerString + " answered again after " + seconds + " s.", false);
      if (window.opener && !window.opener.closed) window.opener.location.reload();
      return;
    }
    show("Waiting for " + body.dataset.controllerString + " to come back... " + seconds + " s", true);
    window.setTimeout(poll, BRIVO_RESET_POLL_SECONDS * 1000);
  };
  show("Waiting for " + body.dataset.controllerString + " to come back...", true);
  window.setTimeout(poll, BRIVO_RESET_POLL_SECONDS * 1000);
}

// The statistics page re-reads on a change of its selection.
function setupBrivoStatistics() {
  const form = document.getElementById("selection-form");
  if (!form) return;
  for (const select of form.querySelectorAll("select")) select.addEventListener("change", () => form.submit());
}

// The snapshot page: snapback bars at their percent, and a reload every data-refresh seconds
// while a snapback runs.
function setupBrivoSnapshots() {
  for (const bar of document.querySelectorAll(".snapback .progress[data-percent]")) {
    const percent = Math.max(0, Math.min(100, Number(bar.dataset.percent) || 0));
    bar.querySelector("span").style.width = percent + "%";
    bar.querySelector("em").textContent = percent + "%";
  }
  const seconds = Number(document.body.dataset.refresh);
  if (seconds > 0) window.setTimeout(() => window.location.reload(), seconds * 1000);
}

const BRIVO_ACTION_SETUP = {
  "brivo-snapshots": setupBrivoSnapshots,
  "brivo-lun-create": setupBrivoRegions,
  "brivo-lun": setupBrivoRegions,
  "brivo-reset": setupBrivoReset,
  "brivo-statistics": setupBrivoStatistics,
};

document.addEventListener("DOMContentLoaded", () => {
  brivoInlineForms();
  const setup = BRIVO_ACTION_SETUP[document.body.dataset.page];
  if (setup) setup();
});
