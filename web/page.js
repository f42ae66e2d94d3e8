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

// Text that wraps only at spaces and after dots: "a-b.example.org" never
// breaks at its hyphen. Hex, and words of over 40 characters without a dot,
// may break anywhere, so that nothing runs past the screen.
function wrapping(text) {
  const fragment = document.createDocumentFragment();
  text.split(/(\s+)/).forEach((word) => {
    if (/^\s*$/.test(word) || /^[0-9A-Fa-f:]{17,}$/.test(word)) return fragment.append(word);
    const pieces = word.includes(".") ? word.split(/(?<=\.)/) : [word];
    pieces.forEach((piece, i) => {
      if (i > 0) fragment.append(make("wbr"));
      fragment.append(piece.length > 40 ? piece : make("span", {className: "nowrap"}, piece));
    });
  });
  return fragment;
}

// A row of a card's field list; a value of several lines is a list.
function row(title, value, className = "") {
  const lines = [].concat(value).filter((line) => line !== "" && line != null);
  if (lines.length === 0) return null;
  const text = lines.join("\n");
  return [
    make("dt", {textContent: title}),
    make(
        "dd", {}, make("span", {className: `value ${className}`}, wrapping(text)),
        copyButton(text, title))
  ];
}

const DAY = 86400000;
const iso = (date) => date.toISOString().replace("T", " ").replace(/\.000Z$/, " UTC");
// A document's time as a Date; null for a time that is no ISO 8601 text.
const timeOf = (text) => (/^\d{4}-\d\d-\d\dT[\d:.]+Z$/.test(text) ? new Date(text) : null);

// The validity as two lines, and its state: "expired", "not-yet-valid" or "valid".
function validity(notBefore, notAfter) {
  if (!notBefore || !notAfter) return {lines: "", state: ""};
  const now = Date.now();
  const [state, line] = now < notBefore ?
      ["not-yet-valid", `not yet valid: starts in ${Math.ceil((notBefore - now) / DAY)} days`] :
      now > notAfter ? ["expired", `expired ${Math.floor((now - notAfter) / DAY)} days ago`] :
                       ["valid", `${Math.floor((notAfter - now) / DAY)} days left`];
  return {lines: [`${iso(notBefore)} to ${iso(notAfter)}`, line], state};
}

// ---- Document values, shown as the kestrix tool's text view shows them ----------

const oidName = (o) => o.name || o.oid || `OID ${o.oidHex}`;
const only = (object, keys) => Object.keys(object).every((k) => keys.includes(k));

// The value as one line where it reads well so: texts, numbers, OIDs by name,
// general names as TYPE:value, names as their RFC 4514 string, and lists of
// those joined by ", "; null for the others.
function inline(value) {
  if (value === null || typeof value !== "object") return String(value);
  if (Array.isArray(value)) {
    const parts = value.map(inline);
    return parts.includes(null) ? null : parts.join(", ");
  }
  if ("rfc4514" in value) return value.rfc4514;
  if (("oid" in value || "oidHex" in value) && only(value, ["oid", "name", "oidHex"])) {
    return oidName(value);
  }
  if ("type" in value && "value" in value && only(value, ["type", "value", "oid", "name"])) {
    const head = `${value.type}:${"oid" in value ? `${oidName(value)};` : ""}`;
    const v = value.value;
    if (v && typeof v === "object" && "rfc4514" in v) return head + v.rfc4514;
    if (v === null || typeof v !== "object") return head + v;
  }
  return null;
}

// A long list: a filter box over it, and its entries in columns.
const LONG_LIST = 12;

function listView(entries, what) {
  const list = make("ul", {className: "entries"});
  list.append(...entries.map((text) => make("li", {}, wrapping(text))));
  if (entries.length <= LONG_LIST) return list;
  const count = make("span", {className: "count", textContent: `${entries.length} ${what}`});
  const filter = make("input", {type: "search", placeholder: "Filter", className: "filter"});
  filter.setAttribute("aria-label", `Filter the ${entries.length} ${what}`);
  filter.addEventListener("input", () => {
    const wanted = filter.value.trim().toLowerCase();
    let shown = 0;
    list.querySelectorAll("li").forEach((li) => {
      li.hidden = !li.textContent.toLowerCase().includes(wanted);
      shown += li.hidden ? 0 : 1;
    });
    count.textContent =
        wanted ? `${shown} of ${entries.length} ${what}` : `${entries.length} ${what}`;
  });
  return make(
      "div", {className: "long-list"}, make("div", {className: "list-head"}, filter, count), list);
}

// A value over lines: an object's members as a list of names and values, a
// list's entries one a line (in columns when each is one line).
function valueView(value, what = "entries") {
  const one = inline(value);
  if (one !== null && (one.length <= 100 || !Array.isArray(value))) {
    return make("span", {className: /^[0-9a-f]{32,}$/.test(one) ? "hex" : ""}, wrapping(one));
  }
  if (one !== null) return listView(value.map(inline), what);
  if (Array.isArray(value)) {
    return make(
        "ol", {className: "items"}, ...value.map((item) => make("li", {}, valueView(item))));
  }
  const members = make("dl", {className: "members"});
  for (const [key, member] of Object.entries(value)) {
    members.append(make("dt", {textContent: key}), make("dd", {}, valueView(member, key)));
  }
  return members;
}

// Hex as colon-separated bytes.
const colons = (text) => (text.match(/../g) || []).join(":");

// An SCT's algorithms by their TLS codes (RFC 5246, 7.4.1.4.1).
const TLS_HASHES = ["none", "MD5", "SHA-1", "SHA-224", "SHA-256", "SHA-384", "SHA-512"];
const TLS_SIGNATURES = ["anonymous", "RSA", "DSA", "ECDSA"];

const sctView = (sct) => ({
  version: `v${sct.version}`,
  logId: colons(sct.logId).toUpperCase(),
  timestamp: sct.timestamp,
  extensions: sct.extensions || "none",
  signatureAlgorithm: `${TLS_SIGNATURES[sct.signatureAlgorithm] ?? sct.signatureAlgorithm} with ${
      TLS_HASHES[sct.hashAlgorithm] ?? sct.hashAlgorithm}`,
  signature: sct.signature,
});

// An extension: its name and OID, critical or not, what its value means,
// and its value in hex where the page knows no meaning (or the value does
// not parse as its extension).
function extensionView(e) {
  const head = make(
      "dt", {}, make("span", {className: "name"}, oidName(e)),
      e.name ? make("span", {className: "oid", textContent: ` (${e.oid})`}) : null,
      e.critical ? make("span", {className: "critical", textContent: "critical"}) : null);
  const body = make("dd");
  const meaning = Object.entries(e).filter(
      ([key]) => !["oid", "name", "critical", "value", "oidHex"].includes(key));
  for (let [key, value] of meaning) {
    if (key === "scts" && Array.isArray(value)) value = value.map(sctView);
    if (meaning.length === 1 && key !== "error") {
      body.append(valueView(value, key));
    } else {
      body.append(make(
          "div", {className: "member"}, make("span", {className: "key"}, `${key}: `),
          valueView(value, key)));
    }
  }
  if (meaning.length === 0 || "error" in e) {
    body.append(make("span", {className: "hex"}, colons(e.value)));
  }
  return [head, body];
}

function extensionsView(extensions, title) {
  if (!extensions || extensions.length === 0) return null;
  return make(
      "section", {className: "extensions"},
      make("h3", {textContent: `${title} (${extensions.length})`}),
      make("dl", {}, ...extensions.flatMap(extensionView)));
}

// A name's attributes as "name = value" lines, in order.
const attributes = (name) =>
    (name?.rdns || []).flat().map((a) => `${a.name || a.oid} = ${a.value ?? a.valueHex}`);

function publicKey(spki) {
  if (!spki) return "";
  const parts = [];
  if (spki.bits) parts.push(`${spki.bits} bits`);
  if (spki.curve) parts.push(`curve ${oidName(spki.curve)}`);
  if (spki.exponent !== undefined) parts.push(`exponent ${spki.exponent}`);
  return [algorithm(spki.algorithm), parts.join(", ")];
}

const algorithm = (a) => (a ? (a.name ? `${a.name} (${a.oid})` : oidName(a)) : "");

function certificateRows(doc) {
  const notBefore = timeOf(doc.validity.notBefore);
  const notAfter = timeOf(doc.validity.notAfter);
  const dates = notBefore && notAfter ? validity(notBefore, notAfter).lines :
                                        [`${doc.validity.notBefore} to ${doc.validity.notAfter}`];
  return [
    row("Subject", attributes(doc.subject)),
    row("Issuer", attributes(doc.issuer)),
    row("Validity", dates),
    row("Serial number", doc.serialNumber, "hex"),
    row("Signature algorithm", algorithm(doc.signatureAlgorithm)),
    row("Public key", publicKey(doc.subjectPublicKeyInfo)),
    row("SHA-256 fingerprint", PENDING, "hex"),
    row("SHA-1 fingerprint", PENDING, "hex"),
    row("Version", `v${doc.version}`),
    row("Public key bytes", doc.subjectPublicKeyInfo?.key, "hex"),
    row("Signature value", doc.signatureValue, "hex"),
  ];
}

// The extension request's extensions, and the other attributes.
function requestParts(doc) {
  let extensions = [];
  const others = [];
  for (const attribute of doc.attributes || []) {
    const request = attribute.values.find((v) => v && typeof v === "object" && v.extensions);
    if (request) {
      extensions = extensions.concat(request.extensions);
    } else {
      others.push(
          `${oidName(attribute)}: ${attribute.values.map((v) => inline(v) ?? "").join(", ")}`);
    }
  }
  return {extensions, others};
}

function requestRows(doc, others) {
  return [
    row("Subject", attributes(doc.subject)),
    row("Public key", publicKey(doc.subjectPublicKeyInfo)),
    row("Signature algorithm", algorithm(doc.signatureAlgorithm)),
    row("Attributes", others),
    row("SHA-256 fingerprint", PENDING, "hex"),
    row("Version", `v${doc.version}`),
    row("Public key bytes", doc.subjectPublicKeyInfo?.key, "hex"),
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
      "details", {}, make("summary", {textContent: "The fixed-size items of GetCertInfo"}),
      make("table", {}, make("thead", {}, head), body));
}

// What a fingerprint row shows until Web Crypto has answered.
const PENDING = "…";

// SHA-256 and SHA-1 of `der` in colon-separated hex, by Web Crypto; empty
// where the page has no Web Crypto (a page served over plain http).
async function fingerprintsOf(der) {
  if (!globalThis.crypto?.subtle) return {sha256: "", sha1: ""};
  const digest = async (name) =>
      hex(new Uint8Array(await crypto.subtle.digest(name, der)), ":").toUpperCase();
  return {sha256: await digest("SHA-256"), sha1: await digest("SHA-1")};
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

// The name a card is titled by: the subject's last commonName, else its
// first attribute.
function titleName(doc) {
  const all = (doc.subject?.rdns || []).flat();
  const cn = all.filter((a) => a.name === "commonName").pop() || all[0];
  return cn ? String(cn.value ?? cn.valueHex) : "(empty subject)";
}

const STATES = {
  expired: "Expired",
  "not-yet-valid": "Not yet valid"
};

function card(entry, index) {
  const titleId = `card-${index}`;
  const request = entry.kind === "request";
  const kind = request ? "Request" : "Certificate";
  const article = make("article", {className: "card"});
  article.setAttribute("aria-labelledby", titleId);
  try {
    const doc = kestrix.document(entry.der, entry.kind);
    const {extensions, others} = request ? requestParts(doc) : {extensions: doc.extensions};
    const rows = (request ? requestRows(doc, others) : certificateRows(doc)).filter(Boolean);
    const fields = make("dl", {className: "fields"}, ...rows.flat());
    const pem = kestrix.pem(request ? "CERTIFICATE REQUEST" : "CERTIFICATE", entry.der);
    const {state} = request ?
        {state: ""} :
        validity(timeOf(doc.validity.notBefore), timeOf(doc.validity.notAfter));
    const parts = [
      make("h2", {id: titleId, textContent: `${kind} ${index}: ${titleName(doc)}`}),
      make(
          "p", {className: "source"}, `${entry.label}, ${entry.der.length} bytes`,
          entry.note ? ` (${entry.note})` : "", " ",
          copyButton(pem, `${kind.toLowerCase()} ${index} as PEM`)),
      STATES[state] ? make("p", {className: `state ${state}`, textContent: STATES[state]}) : null,
      make(
          "div", {className: "columns"},
          make(
              "div", {className: "decoded"}, fields,
              extensionsView(extensions, request ? "Requested extensions" : "Extensions")),
          treeView(kestrix.tree(entry.der))),
      request ? null : itemTable(kestrix.items(entry.der))
    ];
    article.append(...parts.filter(Boolean));
    if (state) article.classList.add(state);
    // The fingerprints, when Web Crypto has them.
    fingerprintsOf(entry.der).then((prints) => {
      fields.querySelectorAll("dt").forEach((dt) => {
        const which = {"SHA-256 fingerprint": prints.sha256, "SHA-1 fingerprint": prints.sha1};
        if (!(dt.textContent in which)) return;
        const [, dd] = row(dt.textContent, which[dt.textContent] || "(no Web Crypto here)", "hex");
        dt.nextElementSibling.replaceWith(dd);
      });
    });
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
