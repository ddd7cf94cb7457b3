// The studio page: picks a picture, sends it with the options to the studio,
// and shows what comes back: the spectrogram, the sound and the downloads.
"use strict";

const MAX_UPLOAD_BYTES = 32 * 1024 * 1024;  // the studio refuses larger pictures

const $ = (id) => document.getElementById(id);
const form = $("options");
const picker = $("picture");
const preview = $("preview");
const modeSelect = $("mode");
const renderButton = $("render");
const errorBox = $("error");
const spectrogram = $("spectrogram");
const sound = $("sound");
const downloadSound = $("download-sound");
const downloadGrid = $("download-grid");

let picture = null;       // the File picked or dropped; null: the example picture
let objectUrls = [];      // blob: URLs of the last result, freed on the next
let previewUrl = null;

const MODE_HINTS = {
  img2sound: "Any length and range; levels glide, no clicks.",
  gridwave: "Exactly as img2grid + gridwave: 200 columns, 18.19 s, 312.5 Hz to 10 kHz.",
};
const ROWS_HINTS = {
  img2sound: "Rows: pitch rows; auto is as many as a spectrogram tells apart.",
  gridwave: "Rows: picture rows; auto is img2grid's default.",
};

function showError(message) {
  errorBox.textContent = message;
  errorBox.hidden = !message;
}

function setStatus(message) {
  $("status").textContent = message;
}

// The picture's name without its folder or extension, safe as a file name.
function baseName() {
  const name = picture ? picture.name : "example.png";
  const stem = name.replace(/\.[^.]*$/, "") || "picture";
  return stem.replace(/[^\w.-]+/g, "_").slice(0, 80);
}

function updateMode() {
  const mode = modeSelect.value;
  for (const element of document.querySelectorAll(".img2sound-only")) {
    element.classList.toggle("inactive", mode !== "img2sound");
    for (const input of element.querySelectorAll("input, select")) input.disabled = mode !== "img2sound";
    if (element.matches("input, select, fieldset")) element.disabled = mode !== "img2sound";
  }
  $("mode-hint").textContent = MODE_HINTS[mode];
  $("rows-hint").textContent = ROWS_HINTS[mode];
}

function setPicture(file) {
  picture = file;
  showError("");
  if (previewUrl) URL.revokeObjectURL(previewUrl);
  previewUrl = URL.createObjectURL(file);
  $("preview-missing").hidden = true;
  preview.hidden = false;
  preview.src = previewUrl;
  preview.alt = `The picture to render: ${file.name}`;
  $("picture-name").textContent = `${file.name} (${formatBytes(file.size)})`;
  if (file.size > MAX_UPLOAD_BYTES) showError(`${file.name} is ${formatBytes(file.size)}; the studio takes pictures of at most 32 MB.`);
}

function formatBytes(bytes) {
  if (bytes < 1024) return `${bytes} bytes`;
  if (bytes < 1024 * 1024) return `${(bytes / 1024).toFixed(0)} KB`;
  return `${(bytes / 1024 / 1024).toFixed(1)} MB`;
}

function requestQuery() {
  const mode = modeSelect.value;
  const params = new URLSearchParams({ mode, name: picture ? picture.name : "example.png" });
  const add = (key, id) => {
    const value = $(id).value.trim();
    if (value !== "") params.set(key, value);
  };
  if (mode === "img2sound") {
    add("duration", "duration");
    add("low", "low");
    add("high", "high");
    params.set("scale", $("scale").value);
    params.set("noise", $("noise").checked ? "1" : "0");
  }
  add("rows", "rows");
  add("db_range", "db-range");
  params.set("invert", $("invert").checked ? "1" : "0");
  return params;
}

function blobFromBase64(text, type) {
  const raw = atob(text);
  const bytes = new Uint8Array(raw.length);
  for (let i = 0; i < raw.length; i++) bytes[i] = raw.charCodeAt(i);
  const url = URL.createObjectURL(new Blob([bytes], { type }));
  objectUrls.push(url);
  return url;
}

function setDownload(link, url, fileName) {
  if (url) {
    link.href = url;
    link.download = fileName;
    link.removeAttribute("aria-disabled");
  } else {
    link.removeAttribute("href");
    link.removeAttribute("download");
    link.setAttribute("aria-disabled", "true");
  }
}

function setBusy(busy) {
  renderButton.disabled = busy;
  renderButton.textContent = busy ? "Rendering…" : "Render";
  $("working").hidden = !busy;
  $("stage").setAttribute("aria-busy", String(busy));
}

function showResult(result, mode) {
  for (const url of objectUrls) URL.revokeObjectURL(url);
  objectUrls = [];
  const base = baseName();
  const soundUrl = blobFromBase64(result.sound, "audio/wav");
  spectrogram.src = blobFromBase64(result.spectrogram, "image/png");
  spectrogram.alt = `Spectrogram of the sound rendered from ${picture ? picture.name : "the example picture"}`;
  spectrogram.hidden = false;
  $("placeholder").hidden = true;
  sound.src = soundUrl;
  setDownload(downloadSound, soundUrl, `${base}.wav`);
  downloadGrid.hidden = !result.grid;
  setDownload(downloadGrid, result.grid ? blobFromBase64(result.grid, "application/octet-stream") : null, `${base}.grid`);
  const seconds = (result.render_ms / 1000).toFixed(2);
  setStatus(`${mode} · ${result.rows} rows · ${result.seconds.toFixed(2)} s of sound · rendered in ${seconds} s`);
  // On a narrow screen the result is below the options: bring it into view.
  const stage = $("stage");
  if (stage.getBoundingClientRect().top > window.innerHeight * 0.6) {
    const still = window.matchMedia("(prefers-reduced-motion: reduce)").matches;
    stage.scrollIntoView({ behavior: still ? "auto" : "smooth", block: "start" });
  }
}

async function pictureBody() {
  if (picture) return picture;
  const response = await fetch("/example.png");
  if (!response.ok) throw new Error("the example picture could not be loaded");
  return response.blob();
}

async function render(event) {
  event.preventDefault();
  if (renderButton.disabled) return;
  showError("");
  if (picture && picture.size > MAX_UPLOAD_BYTES) {
    showError(`${picture.name} is ${formatBytes(picture.size)}; the studio takes pictures of at most 32 MB.`);
    return;
  }
  const mode = modeSelect.value;
  setBusy(true);
  setStatus("Rendering…");
  try {
    const response = await fetch(`/api/render?${requestQuery()}`, {
      method: "POST",
      headers: { "Content-Type": "application/octet-stream" },
      body: await pictureBody(),
    });
    let result = null;
    try {
      result = await response.json();
    } catch {
      result = null;
    }
    if (!response.ok || !result || result.error) {
      const reason = result && result.error ? result.error : `the studio answered ${response.status} ${response.statusText}`;
      showError(`Cannot render: ${reason}.`);
      setStatus("");
      return;
    }
    showResult(result, mode);
  } catch (error) {
    showError(`The studio did not answer (${error.message}). Is it still running?`);
    setStatus("");
  } finally {
    setBusy(false);
  }
}

picker.addEventListener("change", () => {
  if (picker.files.length > 0) setPicture(picker.files[0]);
});

preview.addEventListener("error", () => {
  preview.hidden = true;
  $("preview-missing").hidden = false;
});

// A picture dropped anywhere on the page is taken; the card lights up.
const drop = $("drop").closest(".card");
for (const type of ["dragenter", "dragover"]) {
  document.addEventListener(type, (event) => {
    event.preventDefault();
    drop.classList.add("dragging");
  });
}
for (const type of ["dragleave", "drop"]) {
  document.addEventListener(type, (event) => {
    event.preventDefault();
    if (type === "drop" || event.relatedTarget === null) drop.classList.remove("dragging");
  });
}
document.addEventListener("drop", (event) => {
  const file = event.dataTransfer && event.dataTransfer.files[0];
  if (file) setPicture(file);
});

modeSelect.addEventListener("change", updateMode);
form.addEventListener("submit", render);
updateMode();
