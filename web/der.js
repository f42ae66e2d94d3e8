// Reading DER in the page, bounded by the bytes given: elements and their
// children by the library's own length rules (the framing checked before the
// library reads an element), and what the element tree shows of a value.
// Every reader throws DecodeError on bytes that do not hold what it expects.
"use strict";

class DecodeError extends Error {
  constructor(message, status) {
    super(message);
    this.status = status;  // the library's status, when the library refused
  }
}

// The element at bytes[offset], which must end by `end`: {tag, header,
// content, total}. Length forms: 0x00..0x7F the length; 0x81..0x84 that many
// length bytes follow; any other byte is a one-byte length of its own value.
function elementAt(bytes, offset = 0, end = bytes.length) {
  const left = end - offset;
  const where = `the element at offset ${offset}`;
  if (left < 2) throw new DecodeError(`${where} needs a 2-byte header, ${left} bytes left`);
  const first = bytes[offset + 1];
  let header = 2;
  let content = first;
  if (first >= 0x81 && first <= 0x84) {
    header += first - 0x80;
    if (left < header)
      throw new DecodeError(`${where} needs a ${header}-byte header, ${left} bytes left`);
    content = 0;
    for (let i = offset + 2; i < offset + header; i++) content = content * 256 + bytes[i];
  }
  const total = header + content;
  if (total > 0x7fffffff)
    throw new DecodeError(`${where} declares ${total} bytes, more than 2^31-1`);
  if (total > left) throw new DecodeError(`${where} declares ${total} bytes, ${left} present`);
  return {tag: bytes[offset], header, content, total};
}

// The children of the constructed element at `offset`.
function childrenOf(bytes, offset) {
  const parent = elementAt(bytes, offset);
  const children = [];
  for (let at = offset + parent.header; at < offset + parent.total;) {
    const child = elementAt(bytes, at, offset + parent.total);
    children.push({offset: at, ...child});
    at += child.total;
  }
  return children;
}

// "request" when the first child's children are a request's (version,
// subject, key, [0] attributes), else "certificate".
// Inner elements that break their parents are left for the library to refuse.
function kindOf(der) {
  try {
    const [info] = childrenOf(der, 0);
    const parts = info && info.tag === 0x30 ? childrenOf(der, info.offset) : [];
    if (parts.length === 4 && parts[0].tag === 0x02 && parts[3].tag === 0xa0) return "request";
  } catch (e) {
    if (!(e instanceof DecodeError)) throw e;
  }
  return "certificate";
}

const utf8 = new TextDecoder("utf-8");
const hex = (bytes, separator = "") =>
    Array.from(bytes, (b) => b.toString(16).padStart(2, "0")).join(separator);

// The names of the OIDs the library knows, as its documents name them.
const OIDS = KESTRIX_ABI.oids;

// An OBJECT IDENTIFIER's content as dotted text, with its name when known.
function oidText(bytes) {
  const arcs = [];
  let arc = 0n;
  for (const b of bytes) {
    arc = (arc << 7n) | BigInt(b & 0x7f);
    if (b & 0x80) continue;
    if (arcs.length === 0)
      arcs.push(arc < 80n ? arc / 40n : 2n, arc < 80n ? arc % 40n : arc - 80n);
    else
      arcs.push(arc);
    arc = 0n;
  }
  const dotted = arcs.join(".");
  return OIDS[dotted] ? `${dotted} ${OIDS[dotted]}` : dotted;
}
