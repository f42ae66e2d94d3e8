// Reading DER in the page, bounded by the bytes given: elements and their
// children by the library's own length rules, and what the page shows beside
// the library's answers (algorithm names, names, subjectAltName entries, the
// extensions present). Every reader throws DecodeError on bytes that do not
// hold what it expects.
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

// Names as OpenSSL prints them.
const OIDS = {
  "2.5.4.3": "commonName",
  "2.5.4.6": "countryName",
  "2.5.4.7": "localityName",
  "2.5.4.8": "stateOrProvinceName",
  "2.5.4.10": "organizationName",
  "2.5.4.11": "organizationalUnitName",
  "2.5.4.5": "serialNumber",
  "1.2.840.113549.1.9.1": "emailAddress",
  "1.2.840.113549.1.1.1": "rsaEncryption",
  "1.2.840.113549.1.1.5": "sha1WithRSAEncryption",
  "1.2.840.113549.1.1.11": "sha256WithRSAEncryption",
  "1.2.840.113549.1.1.12": "sha384WithRSAEncryption",
  "1.2.840.113549.1.1.13": "sha512WithRSAEncryption",
  "1.2.840.10045.2.1": "id-ecPublicKey",
  "1.2.840.10045.3.1.7": "prime256v1",
  "1.3.132.0.34": "secp384r1",
  "1.2.840.10045.4.3.2": "ecdsa-with-SHA256",
  "1.2.840.10045.4.3.3": "ecdsa-with-SHA384",
  "1.3.101.112": "ED25519",
  "1.2.840.10040.4.1": "dsaEncryption",
  "1.2.840.10040.4.3": "dsaWithSHA1",
  "2.16.840.1.101.3.4.3.2": "dsa_with_SHA256",
  "2.5.29.14": "subjectKeyIdentifier",
  "2.5.29.15": "keyUsage",
  "2.5.29.17": "subjectAltName",
  "2.5.29.19": "basicConstraints",
  "2.5.29.31": "cRLDistributionPoints",
  "2.5.29.32": "certificatePolicies",
  "2.5.29.35": "authorityKeyIdentifier",
  "2.5.29.37": "extKeyUsage",
  "1.3.6.1.5.5.7.1.1": "authorityInfoAccess",
  "1.3.6.1.5.5.7.48.1": "OCSP",
  "1.3.6.1.5.5.7.48.2": "caIssuers",
  "1.2.840.113549.1.9.14": "extensionRequest",
  "1.2.840.113549.1.9.7": "challengePassword"
};

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

const contentOf = (der, element) =>
    der.subarray(element.offset + element.header, element.offset + element.total);

// A string value: BMPString as UTF-16, the others as UTF-8.
const stringOf = (der, element) =>
    new TextDecoder(element.tag === 0x1e ? "utf-16be" : "utf-8").decode(contentOf(der, element));

// The children of `element`, at least `count` of them, else a DecodeError.
function partsOf(der, element, count = 1) {
  const parts = childrenOf(der, element.offset);
  if (parts.length < count) {
    throw new DecodeError(`the element at offset ${element.offset} has ${parts.length} parts`);
  }
  return parts;
}

// The algorithm of an AlgorithmIdentifier: its OID, and the parameter's when
// it is one (an EC key's curve).
function algorithmOf(der, element) {
  const [oid, parameter] = partsOf(der, element);
  if (oid.tag !== 0x06) return "";
  const text = (element) => oidText(contentOf(der, element));
  return parameter && parameter.tag === 0x06 ? `${text(oid)}, ${text(parameter)}` : text(oid);
}

// Attribute names as OpenSSL's one-line form writes them.
const SHORT_NAMES = {
  "2.5.4.3": "CN",
  "2.5.4.6": "C",
  "2.5.4.7": "L",
  "2.5.4.8": "ST",
  "2.5.4.10": "O",
  "2.5.4.11": "OU",
  "0.9.2342.19200300.100.1.25": "DC",
};

// A Name in OpenSSL's one-line form: "/C=DE/O=Example/CN=www.example.org".
function distinguishedName(der, element) {
  return partsOf(der, element, 0)
      .flatMap((set) => partsOf(der, set, 0))
      .map((attribute) => {
        const [type, value] = partsOf(der, attribute, 2);
        const oid = oidText(contentOf(der, type));
        const dotted = oid.split(" ")[0];
        return `/${SHORT_NAMES[dotted] || OIDS[dotted] || dotted}=${stringOf(der, value)}`;
      })
      .join("");
}

// One GeneralName as [type, value], with OpenSSL's type names.
function generalName(der, name) {
  const value = contentOf(der, name);
  switch (name.tag & 0x1f) {
    case 0: {  // otherName: type-id and [0] value
      const [type, wrapped] = partsOf(der, name);
      const [inner] = wrapped ? partsOf(der, wrapped, 0) : [];
      const text = inner && (inner.tag & 0x20) === 0 ? stringOf(der, inner) : "";
      return ["othername", `${oidText(contentOf(der, type))}::${text}`];
    }
    case 1:
      return ["email", utf8.decode(value)];
    case 2:
      return ["DNS", utf8.decode(value)];
    case 4:
      return ["DirName", distinguishedName(der, partsOf(der, name)[0])];
    case 6:
      return ["URI", utf8.decode(value)];
    case 7:
      return [
        "IP Address",
        value.length === 4      ? value.join(".") :
            value.length === 16 ? ipv6(value) :
                                  hex(value)
      ];
    case 8:
      return ["Registered ID", oidText(value)];
    default:
      return [`[${name.tag & 0x1f}]`, hex(value)];
  }
}

// What the page reads from the element tree of a certificate or request
// beside the library's answers: the signature and key algorithms, and for a
// certificate the extensions present ("2.5.29.15 keyUsage, critical") and
// every subjectAltName entry. Empty where the tree has none.
function readTree(der, kind) {
  const read = {signature: "", key: "", extensions: [], subjectAltNames: []};
  try {
    const [body, signature] = partsOf(der, {offset: 0}, 2);
    const parts = partsOf(der, body);
    const key = kind === "request" ? parts[2] : parts[(parts[0].tag === 0xa0 ? 1 : 0) + 5];
    read.signature = algorithmOf(der, signature);
    read.key = key ? algorithmOf(der, partsOf(der, key)[0]) : "";
    const wrapper = kind === "request" ? null : parts.find((part) => part.tag === 0xa3);
    const [list] = wrapper ? partsOf(der, wrapper) : [];
    for (const extension of list ? partsOf(der, list, 0) : []) {
      const [oid, flag, value] = partsOf(der, extension, 2);
      const critical = flag?.tag === 0x01 && contentOf(der, flag)[0] > 0;
      const name = oidText(contentOf(der, oid));
      read.extensions.push(critical ? `${name}, critical` : name);
      const octets = value || flag;
      if (name.endsWith(" subjectAltName")) {
        const [names] = partsOf(der, octets);
        read.subjectAltNames = partsOf(der, names, 0).map((n) => generalName(der, n));
      }
    }
  } catch (e) {
    if (!(e instanceof DecodeError)) throw e;
  }
  return read;
}

// An IPv6 address as RFC 5952 writes it: the longest run of two or more zero
// groups (the first of equal runs) as "::".
function ipv6(bytes) {
  const groups = [];
  for (let i = 0; i < 16; i += 2) groups.push(((bytes[i] << 8) | bytes[i + 1]).toString(16));
  const text = groups.join(":");
  const runs = text.match(/(^|:)0(:0)+(:|$)/g) || [];
  const longest = runs.reduce((a, b) => (b.length > a.length ? b : a), "");
  return longest ? text.replace(longest, "::") : text;
}
