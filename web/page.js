// The page: input (text, files, samples) in, one card per certificate or
// request out, with its fields, its element tree and copy buttons.
"use strict";

const $ = (selector) => document.querySelector(selector);
let kestrix = null;

// make("dt", {className: "x"}, "text", child, ...)
function make(tag, properties = {}, ...children) {
  const element = Object.assign(document.createElement(tag), properties);
  element.append(...children.filter((c) => c !== null && c !== undefined));
  return element;
}

function say(message) {
  $("#status").textContent = message;
}

async function copy(text, what, button) {
  try {
    await navigator.clipboard.writeText(text);
  } catch {
    // Without the clipboard API (an older browser, or no permission).
    const scratch = make("textarea", {value: text});
    document.body.append(scratch);
    scratch.select();
    document.execCommand("copy");
    scratch.remove();
  }
  button.textContent = "Copied";
  setTimeout(() => (button.textContent = "Copy"), 1500);
  say(`Copied ${what}.`);
}

function copyButton(text, what) {
  const button = make("button", {type: "button", className: "copy", textContent: "Copy"});
  button.setAttribute("aria-label", `Copy ${what}`);
  button.addEventListener("click", () => copy(text, what, button));
  return button;
}

// A row of a card's field list; a value of several lines is a list.
function row(title, value, className = "") {
  const lines = [].concat(value).filter((line) => line !== "" && line != null);
  if (lines.length === 0) return null;
  const text = lines.join("\n");
  return [
    make("dt", {textContent: title}),
    make(
        "dd", {}, make("span", {className: `value ${className}`, textContent: text}),
        copyButton(text, title))
  ];
}

const iso = (date) => date.toISOString().replace("T", " ").replace(/\.000Z$/, " UTC");
const DAY = 86400000;

function validity(c) {
  if (!c.notBefore || !c.notAfter) return "";
  const now = Date.now();
  const state = now < c.notBefore ?
      `not yet valid: starts in ${Math.ceil((c.notBefore - now) / DAY)} days` :
      now > c.notAfter ? `expired ${Math.floor((now - c.notAfter) / DAY)} days ago` :
                         `${Math.floor((c.notAfter - now) / DAY)} days left`;
  return [`${iso(c.notBefore)} to ${iso(c.notAfter)}`, state];
}

const attributes = (name) => Object.entries(name).map(([type, value]) => `${type} = ${value}`);

function certificateRows(c) {
  const key = c.publicKeyRefused ?
      `the library refuses it: ${c.publicKeyRefused}` :
      `${c.publicKey.length} bytes${c.rsaBits ? `, RSA ${c.rsaBits}-bit modulus` : ""}`;
  return [
    row("Subject", attributes(c.subject)),
    row("Issuer", attributes(c.issuer)),
    row("Validity", validity(c)),
    row("Serial number", c.serial, "hex"),
    row("Signature algorithm",
        [
          c.signatureAlgorithm,
          c.libraryAlgorithmName && `the library's name: ${c.libraryAlgorithmName}`
        ]),
    row("Public key", [c.keyAlgorithm, key]),
    row("Subject alternative names", c.subjectAltNames.map(([type, value]) => `${type}: ${value}`)),
    row("Extensions", c.extensions),
    row("Key usage", c.keyUsage ? c.keyUsage.join(", ") || "(none)" : ""),
    row("Basic constraints", c.ca ? "CA" : "not a CA"),
    row("Subject key identifier", c.subjectKeyId, "hex"),
    row("Authority key identifier", c.authorityKeyId, "hex"),
    row("CRL distribution points", c.crl),
    row("OCSP", c.ocsp),
    row("Public key bytes", hex(c.publicKey), "hex"),
    row("Version", `v${c.version}`),
  ];
}

function requestRows(r) {
  return [
    row("Subject", attributes(r.subject)),
    row("Public key", [r.keyAlgorithm, `${r.publicKey.length} bytes`]),
    row("Public key bytes", hex(r.publicKey), "hex"),
  ];
}

// Every item the library answered for the certificate, with its code.
function itemTable(items) {
  const body = make("tbody");
  for (const [code, {name, title, shape, value, status}] of Object.entries(items)) {
    const shown = status || (shape === "bytes" ? hex(value) : String(value));
    if (shown === "" || (shape === "bytes" && !status && !value.some((b) => b))) continue;
    body.append(make(
        "tr", {}, make("td", {textContent: code}), make("td", {textContent: title, title: name}),
        make("td", {className: "value", textContent: shown})));
  }
  const head = make(
      "tr", {},
      ...["Code", "Item", "Answer"].map((t) => make("th", {scope: "col", textContent: t})));
  return make(
      "details", {}, make("summary", {textContent: "Every item the library answers (GetCertInfo)"}),
      make("table", {}, make("thead", {}, head), body));
}

// ---- The element tree ------------------------------------------------------

const TAGS = {
  0x01: "BOOLEAN",
  0x02: "INTEGER",
  0x03: "BIT STRING",
  0x04: "OCTET STRING",
  0x05: "NULL",
  0x06: "OBJECT IDENTIFIER",
  0x0a: "ENUMERATED",
  0x0c: "UTF8String",
  0x12: "NumericString",
  0x13: "PrintableString",
  0x14: "TeletexString",
  0x16: "IA5String",
  0x17: "UTCTime",
  0x18: "GeneralizedTime",
  0x1a: "VisibleString",
  0x1c: "UniversalString",
  0x1e: "BMPString",
  0x30: "SEQUENCE",
  0x31: "SET"
};

function preview({tag, value}) {
  if (value === null) return "";
  const cut = (text) => (text.length > 48 ? `${text.slice(0, 48)}…` : text);
  switch (tag) {
    case 0x01:
      return value[0] ? "TRUE" : "FALSE";
    case 0x05:
      return "";
    case 0x06:
      return oidText(value);
    case 0x0c:
    case 0x12:
    case 0x13:
    case 0x14:
    case 0x16:
    case 0x17:
    case 0x18:
    case 0x1a:
      return cut(utf8.decode(value));
    case 0x1e:
      return cut(new TextDecoder("utf-16be").decode(value));
    default:
      return cut(hex(value));
  }
}

function treeView(nodes) {
  const list = make("ol", {className: "tlv"});
  for (const node of nodes) {
    const name = TAGS[node.tag] ||
        ((node.tag & 0xc0) === 0x80 ? `[${node.tag & 0x1f}]` : `tag ${hex([node.tag])}`);
    const size = `${node.content} byte${node.content === 1 ? "" : "s"}`;
    const element = make(
        "span", {className: "element"}, make("span", {className: "tag", textContent: name}),
        ` (${size}) `, make("span", {className: "value", textContent: preview(node)}));
    element.style.setProperty("--depth", node.depth);
    const item =
        make("li", {}, make("span", {className: "offset", textContent: node.offset}), element);
    list.append(item);
  }
  // A scrolling region: focusable, so that the keyboard scrolls it too.
  const section = make(
      "section", {className: "tree", tabIndex: 0}, make("h3", {textContent: "Elements"}), list);
  section.setAttribute("aria-label", "Elements");
  return section;
}

// ---- Cards -----------------------------------------------------------------

function card(entry, index) {
  const titleId = `card-${index}`;
  const kind = entry.kind === "request" ? "Request" : "Certificate";
  const article = make("article", {className: "card"});
  article.setAttribute("aria-labelledby", titleId);
  try {
    const decoded =
        entry.kind === "request" ? kestrix.request(entry.der) : kestrix.certificate(entry.der);
    const rows = (entry.kind === "request" ? requestRows(decoded) : certificateRows(decoded))
                     .filter(Boolean);
    const name =
        decoded.subject.commonName || Object.values(decoded.subject)[0] || "(empty subject)";
    const pem =
        kestrix.pem(entry.kind === "request" ? "CERTIFICATE REQUEST" : "CERTIFICATE", entry.der);
    article.append(
        make("h2", {id: titleId, textContent: `${kind} ${index}: ${name}`}),
        make(
            "p", {className: "source"}, `${entry.label}, ${entry.der.length} bytes`,
            entry.note ? ` (${entry.note})` : "", " ",
            copyButton(pem, `${kind.toLowerCase()} ${index} as PEM`)),
        make(
            "div", {className: "columns"}, make("dl", {className: "fields"}, ...rows.flat()),
            treeView(kestrix.tree(entry.der))),
        ...(entry.kind === "request" ? [] : [itemTable(decoded.items)]));
    return {article, ok: true};
  } catch (e) {
    if (!(e instanceof DecodeError)) throw e;
    article.classList.add("refused");
    article.append(
        make("h2", {id: titleId, textContent: `${kind} ${index}: refused`}),
        make("p", {className: "message"}, `${entry.label}: ${e.message}`));
    // The tree of what the library refused, where its framing holds.
    try {
      article.append(treeView(kestrix.tree(entry.der)));
    } catch (treeError) {
      if (!(treeError instanceof DecodeError)) throw treeError;
    }
    return {article, ok: false};
  }
}


// Decodes the entries of every input and shows them.
function show(entries) {
  const results = $("#results");
  results.replaceChildren();
  const counts = {certificate: 0, request: 0, refused: 0};
  entries.forEach((entry, i) => {
    if (entry.error) {
      counts.refused++;
      results.append(make(
          "article", {className: "card refused"}, make("h2", {textContent: `${i + 1}: not read`}),
          make("p", {className: "message"}, `${entry.label}: ${entry.error}`)));
      return;
    }
    const {article, ok} = card(entry, i + 1);
    counts[ok ? entry.kind : "refused"]++;
    results.append(article);
  });
  const plural = (n, word) => `${n} ${word}${n === 1 ? "" : "s"}`;
  say(`${plural(counts.certificate, "certificate")} and ${
          plural(counts.request, "request")} decoded` +
      (counts.refused ? `; ${counts.refused} not decoded (see below).` : "."));
}

async function decodeFiles(files) {
  const entries = [];
  for (const file of files)
    entries.push(...kestrix.split(new Uint8Array(await file.arrayBuffer()), file.name));
  show(entries);
}

function sample(name) {
  const pems = KESTRIX_SAMPLES[name].map(({hex: text}) => {
    const der = Uint8Array.from(text.match(/../g), (h) => parseInt(h, 16));
    return kestrix.pem(kindOf(der) === "request" ? "CERTIFICATE REQUEST" : "CERTIFICATE", der);
  });
  $("#input").value = pems.join("");
  show(kestrix.split($("#input").value));
}

function start() {
  const input = $("#input");
  $("#input-form").addEventListener("submit", (event) => {
    event.preventDefault();
    show(kestrix.split(input.value));
  });
  input.addEventListener("keydown", (event) => {
    if (event.key === "Enter" && (event.ctrlKey || event.metaKey)) $("#input-form").requestSubmit();
  });
  input.addEventListener("dragover", (event) => event.preventDefault());
  input.addEventListener("drop", (event) => {
    event.preventDefault();
    decodeFiles(event.dataTransfer.files);
  });
  $("#files").addEventListener("change", (event) => decodeFiles(event.target.files));
  document.querySelectorAll("[data-sample]")
      .forEach((b) => b.addEventListener("click", () => sample(b.dataset.sample)));
  $("#clear").addEventListener("click", () => {
    input.value = "";
    $("#results").replaceChildren();
    say("Cleared.");
    input.focus();
  });
  document.querySelectorAll("button, input").forEach((control) => (control.disabled = false));
  say("Ready: paste, open or drop certificates or requests.");
}

Kestrix.load().then((loaded) => {
  kestrix = loaded;
  start();
}, (error) => say(`The decoder could not be loaded: ${error.message}`));
