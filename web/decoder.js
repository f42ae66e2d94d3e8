// The library's WebAssembly module behind a small API for the page: PEM, Base64
// and DER input split into certificates and requests, the library's document
// of each, its items, and its element tree.
//
// The exports take no sizes: the caller vouches that an element lies in
// readable memory. WebAssembly memory has no guard pages, so before every
// call the element is checked, by the library's own length rules, to lie
// inside the bytes given (elementAt, in der.js); one that runs past them is
// refused here.
"use strict";

const {constants: KX, status: STATUS, items: ITEMS} = KESTRIX_ABI;

function statusText(status) {
  const [name, meaning] = STATUS[status] || [`status ${status}`, "not a status of the library"];
  return `${name} (${meaning})`;
}

class Kestrix {
  // Loads the module (createKestrix, from kestrix.js). Lines the library
  // prints are kept and handed out with the answer that caused them.
  static async load() {
    const printed = [];
    const module = await createKestrix(
        {print: (line) => printed.push(line), printErr: (line) => printed.push(line)});
    return new Kestrix(module, printed);
  }

  constructor(module, printed) {
    this.module = module;
    this.printed = printed;
  }

  // Runs fn(memory) and frees whatever it placed in the module's memory.
  // memory.bytes(array) copies bytes in, memory.zeros(n) reserves n zero
  // bytes, memory.text(string) a NUL-terminated UTF-8 copy; each returns
  // the address.
  withMemory(fn) {
    const m = this.module;
    const taken = [];
    const take = (size) => {
      const at = m._malloc(Math.max(size, 1));
      if (!at) throw new DecodeError("out of memory");
      taken.push(at);
      m.HEAPU8.fill(0, at, at + size);
      return at;
    };
    const memory = {
      zeros: take,
      bytes(array) {
        const at = take(array.length);
        m.HEAPU8.set(array, at);
        return at;
      },
      text(string) {
        return this.bytes(new TextEncoder().encode(string + "\0"));
      },
      // `length` bytes from `at`, never more than the `room` placed there.
      read: (at, length, room) => m.HEAPU8.slice(at, at + Math.min(Math.max(length, 0), room)),
      int: (at) => m.HEAP32[at >> 2],
    };
    try {
      return fn(memory);
    } finally {
      taken.forEach((at) => m._free(at));
    }
  }

  // Base64 (no armour; whitespace is left out) to bytes, by PemToDer.
  base64Decode(text) {
    const clean = text.replace(/\s+/g, "");
    if (clean.length === 0 || clean.length % 4 !== 0) {
      throw new DecodeError(`not Base64: ${clean.length} characters, not a positive multiple of 4`);
    }
    if (clean.length > KX.KX_BASE64_MAX_LENGTH)
      throw new DecodeError("more Base64 than the library takes");
    return this.withMemory((memory) => {
      const capacity = (clean.length / 4) * 3;
      const out = memory.zeros(capacity);
      const length = memory.bytes(new Int32Array([capacity]));
      const status = this.module._PemToDer(memory.text(clean), clean.length, out, length);
      if (status !== KX.KX_OK) throw new DecodeError(`not Base64: ${statusText(status)}`, status);
      return memory.read(out, memory.int(length), capacity);
    });
  }

  // Bytes to Base64 by DerToPem, cut into lines of 64 characters.
  base64Encode(bytes) {
    return this.withMemory((memory) => {
      const capacity = Math.ceil(bytes.length / 3) * 4;
      const out = memory.zeros(capacity);
      const length = memory.bytes(new Int32Array([capacity]));
      const status = this.module._DerToPem(memory.bytes(bytes), bytes.length, out, length);
      if (status !== KX.KX_OK) throw new DecodeError(`Base64: ${statusText(status)}`, status);
      const text = utf8.decode(memory.read(out, memory.int(length), capacity));
      return text.match(/.{1,64}/g).join("\n");
    });
  }

  pem(label, der) {
    return `-----BEGIN ${label}-----\n${this.base64Encode(der)}\n-----END ${label}-----\n`;
  }

  // The library's document of the certificate or request (kind) that fills
  // `der`, by CertificateToJson or RequestToJson: every field, whole, in
  // UTF-8 (docs/json.md). What the library refuses is a DecodeError with its
  // status, and what broke where when the library says so.
  document(der, kind) {
    const what = kind === "request" ? "request" : "certificate";
    const {total} = elementAt(der);
    if (total !== der.length)
      throw new DecodeError(`the ${what} is ${total} bytes, ${der.length} given`);
    const call = kind === "request" ? this.module._RequestToJson : this.module._CertificateToJson;
    return this.withMemory((memory) => {
      const input = memory.bytes(der);
      const length = memory.zeros(4);
      // Room for most documents; the library says how much a larger one needs.
      for (let capacity = 16 * der.length + 4096, tries = 0;; tries++) {
        const out = memory.zeros(capacity);
        const status = call(input, der.length, out, capacity, length);
        const needed = memory.int(length);
        if (status === KX.KX_ERR_LENGTH && tries === 0 && needed > capacity) {
          capacity = needed;
          continue;
        }
        let document = null;
        try {
          document = JSON.parse(utf8.decode(memory.read(out, needed, capacity)));
        } catch {
          // no document: the status alone says what happened
        }
        if (status === KX.KX_OK && document) return document;
        const where = document?.error ? `: ${document.error} at offset ${document.offset}` : "";
        throw new DecodeError(`the library refuses it: ${statusText(status)}${where}`, status);
      }
    });
  }

  // Every item GetCertInfo answers for the certificate that fills `der`
  // (checked by document() first): {code: {name, title, shape, value,
  // status}}, an item the library refuses with its status and no value.
  items(der) {
    return this.withMemory((memory) => {
      const cert = memory.bytes(der);
      const out = memory.zeros(KX.KX_ITEM_BUFFER_SIZE);
      const num = memory.zeros(4);
      const len = memory.zeros(4);
      const items = {};
      for (const [name, code, shape, , title] of ITEMS) {
        const status = this.module._GetCertInfo(der.length, cert, code, num, len, out);
        const raw = memory.read(out, memory.int(len), KX.KX_ITEM_BUFFER_SIZE);
        items[code] = {name, title, shape};
        if (status !== KX.KX_OK) {
          items[code].status = statusText(status);
        } else {
          items[code].value = shape === "number" ? memory.int(num) :
              shape === "bytes"                  ? raw :
                                                   utf8.decode(raw);
        }
      }
      return items;
    });
  }

  // The element tree of `der`, one node per element in document order:
  // {offset, depth, tag, header, content, total, value}, value being what
  // getTVL hands out for a primitive element. Each element is checked against
  // its parent before the library reads it.
  tree(der) {
    return this.withMemory((memory) => {
      const base = memory.bytes(der);
      const valueLen = memory.zeros(4);
      const totalLen = memory.zeros(4);
      const nodes = [];
      const ends = [der.length];
      for (let at = 0; ends.length > 0;) {
        if (at === ends[ends.length - 1]) {
          ends.pop();
          continue;
        }
        if (ends.length > 64)
          throw new DecodeError(`the element at offset ${at} nests deeper than 64 levels`);
        const element = elementAt(der, at, ends[ends.length - 1]);
        const constructed = (element.tag & 0x20) !== 0;
        const out = constructed ? 0 : memory.zeros(element.content);
        this.module._getTVL(base + at, out, valueLen, totalLen);
        if (memory.int(totalLen) !== element.total) {
          throw new DecodeError(`the element at offset ${at} declares ${
              element.total} bytes, getTVL reports ${memory.int(totalLen)}`);
        }
        const value = constructed ? null : memory.read(out, memory.int(valueLen), element.content);
        nodes.push({offset: at, depth: ends.length - 1, ...element, value});
        if (constructed && element.content > 0) {
          ends.push(at + element.total);
          at += element.header;
        } else {
          at += element.total;
        }
      }
      return nodes;
    });
  }

  // The certificates and requests in `input` (text, or the bytes of a file):
  // [{kind, label, der, note}] for what was found and [{label, error}] for
  // what could not be read. PEM blocks are read wherever they stand in the
  // text; text without one is read as Base64, bytes that are not text as DER.
  split(input, name = "the input") {
    if (typeof input !== "string") {
      const text = utf8.decode(input);
      if (!text.includes("-----BEGIN") && !/^[\t\n\r\x20-\x7e]*$/.test(text))
        return this.splitDer(input, name);
      input = text;
    }
    const found = [];
    const block = /-----BEGIN ([A-Z0-9 ]+)-----([\s\S]*?)(?:-----END \1-----|$)/g;
    let count = 0;
    for (const [whole, label, body] of input.matchAll(block)) {
      const where = `PEM block ${++count} (${label})`;
      const kind = PEM_KINDS[label];
      if (!kind) {
        found.push({
          label: where,
          error: `a ${label} block is neither a certificate nor a certificate request`
        });
      } else if (!whole.includes("-----END")) {
        found.push({label: where, error: `no "-----END ${label}-----" line`});
      } else {
        found.push(...this.readBlock(where, kind, label, body));
      }
    }
    if (count > 0) return found;
    if (/^[A-Za-z0-9+/=\s]+$/.test(input) && input.trim()) {
      return this.readBlock("Base64 text", null, null, input);
    }
    return [{label: name, error: NOT_FOUND}];
  }

  readBlock(name, kind, label, body) {
    let der;
    try {
      der = this.base64Decode(body);
    } catch (e) {
      return [{label: name, error: e.message}];
    }
    if (kind) {
      // TRUSTED CERTIFICATE: the certificate, then trust settings.
      const entries = this.splitDer(der, name, kind, 1);
      if (label !== "TRUSTED CERTIFICATE" && entries[0].der && entries[0].der.length < der.length) {
        entries[0].note = `${der.length - entries[0].der.length} bytes after the ${kind} left out`;
      }
      return entries;
    }
    return this.splitDer(der, name);
  }

  // The DER elements one after another in `bytes` (at most `limit`), each a
  // certificate or request; a fault ends the list with its message.
  splitDer(bytes, name, kind = null, limit = Infinity) {
    const found = [];
    for (let at = 0; at < bytes.length && found.length < limit;) {
      const label = limit === 1 ? name : `${name}, element ${found.length + 1}`;
      try {
        const {tag, total} = elementAt(bytes, at);
        if (tag !== 0x30)
          throw new DecodeError(`tag ${hex([tag])} at offset ${at}, not a SEQUENCE`);
        const der = bytes.slice(at, at + total);
        found.push({label, kind: kind || kindOf(der), der});
        at += total;
      } catch (e) {
        found.push({label, error: e.message});
        break;
      }
    }
    return found.length ? found : [{label: name, error: NOT_FOUND}];
  }
}

const NOT_FOUND = "no certificate or request found: paste PEM (-----BEGIN CERTIFICATE----- or " +
    "-----BEGIN CERTIFICATE REQUEST-----) or Base64, or open a DER file";

const PEM_KINDS = {
  CERTIFICATE: "certificate",
  "X509 CERTIFICATE": "certificate",
  "TRUSTED CERTIFICATE": "certificate",
  "CERTIFICATE REQUEST": "request",
  "NEW CERTIFICATE REQUEST": "request",
};
