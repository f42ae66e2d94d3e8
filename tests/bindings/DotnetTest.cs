// The C# binding under Mono against the shared library: the samples read
// through the library's documents, checked against what OpenSSL reads in
// them (openssl x509 -text), the item queries beside them, and refusals.
// Run under a GBK locale as well: the texts must not change.
// usage: mono test.exe SAMPLES_DIR REQUEST_DER (a request with an extension request)
using System;
using System.Collections.Generic;
using System.IO;
using System.Linq;
using Kestrix;

static class DotnetTest
{
    static int failed;
    static string samples;

    static void Expect(bool condition, string what)
    {
        Console.WriteLine((condition ? "ok   " : "FAIL ") + what);
        if (!condition) failed++;
    }

    static string Join<T>(IEnumerable<T> items) => items == null ? "(none)" : string.Join(", ", items);
    static string Hex(byte[] data) => BitConverter.ToString(data).Replace("-", "").ToLowerInvariant();
    static byte[] Sample(string name) => File.ReadAllBytes(Path.Combine(samples, name));
    static DateTime Utc(int y, int mo, int d, int h, int mi, int s) => new DateTime(y, mo, d, h, mi, s, DateTimeKind.Utc);

    static int Main(string[] args)
    {
        samples = args[0];

        // The bundled sample: every field, and the item queries agreeing with the document.
        var cert = new Certificate(Sample("cert-rsa2048.der"));
        Expect(cert.Version == 3 && cert.SerialNumber == "5a17c0de01" && cert.SignatureAlgorithm == "sha256WithRSAEncryption",
            "v" + cert.Version + ", serial " + cert.SerialNumber + ", " + cert.SignatureAlgorithm);
        Expect(cert.Subject.Rfc4514 == "CN=kestrix sample RSA-2048,O=Kestrix Samples,C=DE" && cert.Issuer.Rfc4514 == cert.Subject.Rfc4514
            && cert.SubjectCommonName == cert.Text(KestrixNative.KX_ITEM_SUBJECT_COMMON_NAME), "subject and issuer " + cert.Subject);
        Expect(cert.NotBefore == Utc(2025, 1, 1, 0, 0, 0) && cert.NotAfter == Utc(2034, 12, 31, 23, 59, 59)
            && cert.ValidAt(cert.NotBefore) && cert.ValidAt(cert.NotAfter.AddMilliseconds(999))
            && !cert.ValidAt(cert.NotBefore.AddSeconds(-1)) && !cert.ValidAt(cert.NotAfter.AddSeconds(1)),
            "valid from " + cert.NotBeforeText + " to " + cert.NotAfterText + ", both included");
        Expect(Join(cert.Extensions.Select(e => e.Name + (e.Critical ? " (critical)" : ""))) == "basicConstraints (critical), " +
            "keyUsage (critical), extendedKeyUsage, subjectAltName, subjectKeyIdentifier, authorityKeyIdentifier"
            && cert.Extensions[4].Value == "04146e694c35af1accc9cf26ec49eb1fad88aae8abda", "extensions " + cert.Extensions.Count);
        Expect(cert.IsCA && cert.PathLength == 0 && Join(cert.KeyUsage) == "digitalSignature, keyCertSign, cRLSign"
            && Join(cert.ExtendedKeyUsage) == "serverAuth, clientAuth", "CA, path length 0, " + Join(cert.KeyUsage) + "; " + Join(cert.ExtendedKeyUsage));
        Expect(Join(cert.SubjectAltNames) == "DNS:sample.kestrix.test, DNS:www.sample.kestrix.test, email:pki@sample.kestrix.test",
            "SANs " + Join(cert.SubjectAltNames));
        var modulus = new byte[KestrixNative.KX_MAX_MODULUS_SIZE];
        KestrixException.Check("GetUsrPubKey", KestrixNative.GetUsrPubKey(cert.Der, modulus, out int modulusLength));
        Expect(cert.PublicKey.SequenceEqual(cert.Bytes(KestrixNative.KX_ITEM_PUBLIC_KEY)) && cert.RsaModulus.SequenceEqual(modulus.Take(modulusLength))
            && Hex(cert.RsaModulus).StartsWith("c49a592d58ab0378"), "key and modulus as the item queries answer them");
        string pem = "-----BEGIN CERTIFICATE-----\n" + Base64.Encode(cert.Der) + "\n-----END CERTIFICATE-----\n";
        Expect(Certificate.FromPem(pem).Json == cert.Json && Base64.Decode(Base64.Encode(cert.Der)).SequenceEqual(cert.Der), "PEM and Base64 round trip");

        // Names: Unicode texts whatever the locale, every attribute in order, a name's last value.
        var cjk = new Certificate(Sample("certs/utf8-cjk.der"));
        Expect(Join(cjk.Subject.Attributes.Select(a => a.Oid + " " + a.Name + " " + a.Type + " " + a.Value)) == "2.5.4.6 countryName " +
            "PrintableString CN, 2.5.4.8 stateOrProvinceName UTF8String 北京, 2.5.4.10 organizationName UTF8String 测试机构, " +
            "2.5.4.3 commonName UTF8String 中国 测试", "CJK subject attributes: " + Join(cjk.Subject.Select(p => p.Key + "=" + p.Value)));
        Expect(cjk.SubjectCommonName == "中国 测试" && cjk.Issuer.Rfc4514 == "CN=中国 测试,O=测试机构,ST=北京,C=CN" && cjk.Json.Contains("\"中国 测试\""),
            "CJK commonName " + cjk.SubjectCommonName + " (the item query: " + Hex(cjk.Bytes(KestrixNative.KX_ITEM_SUBJECT_COMMON_NAME)) + ")");
        var multi = new Certificate(Sample("certs/multi-rdn-leaf.der"));
        Expect(multi.Subject["commonName"] == "second member" && multi.Subject.Attributes.Count == 7
            && multi.Subject.Rfc4514 == "OU=Leaves,CN=first member+CN=second member,O=Kestrix Multi,L=Sofia+ST=Sofia-grad,C=BG",
            "multi-valued RDNs " + multi.Subject);

        // Keys, alternative names and access URLs of the other samples.
        var names = new Certificate(Sample("certs/san-large.der")).SubjectAltNames.Select(n => n.ToString());
        var want = Enumerable.Range(0, 100).Select(i => "DNS:name" + i.ToString("000") + ".san-large.kestrix.test")
            .Concat(new[] { "URI:https://san-large.kestrix.test/last", "email:last@san-large.kestrix.test" });
        Expect(names.SequenceEqual(want), names.Count() + " SANs, in order (a document the first buffer does not hold)");
        var rsa4096 = new Certificate(Sample("certs/rsa4096.der"));
        string big = Hex(rsa4096.RsaModulus);
        Expect(rsa4096.PublicKeyInfo.Bits == 4096 && big.Length == 1024 && big.StartsWith("927fc6fc57b20ff4") && big.EndsWith("23c98817d18ceba1")
            && rsa4096.IsCA && rsa4096.PathLength == 1 && Join(rsa4096.KeyUsage) == "digitalSignature, keyCertSign", "RSA-4096 CA, path length 1");
        var aia = new Certificate(Sample("certs/crl-aia.der"));
        Expect(Join(aia.CrlDistributionPoints) == "http://crl1.kestrix.test/ca.crl, ldap://crl2.kestrix.test/cn=ca"
            && Join(aia.OcspUrls) == "http://ocsp1.kestrix.test/, http://ocsp2.kestrix.test/" && Join(aia.CaIssuersUrls) == "http://ca.kestrix.test/ca.crt",
            "CRL " + Join(aia.CrlDistributionPoints) + "; OCSP " + Join(aia.OcspUrls) + "; CA issuers " + Join(aia.CaIssuersUrls));
        var ec = new Certificate(Sample("certs/ec-p256-leaf.der"));
        Expect(ec.PublicKeyInfo.Algorithm == "id-ecPublicKey" && ec.PublicKeyInfo.Bits == 256 && ec.PublicKeyInfo.Curve == "prime256v1"
            && ec.SignatureAlgorithm == "ecdsa-with-SHA256" && !ec.IsCA && ec.PathLength == null && ec.NotAfter == Utc(2051, 6, 30, 12, 0, 0)
            && Join(ec.SubjectAltNames) == "email:first@leaf.kestrix.test, DNS:leaf.kestrix.test, email:second@leaf.kestrix.test, " +
            "URI:https://leaf.kestrix.test/about, DNS:www.leaf.kestrix.test, IP:192.0.2.17", "P-256 leaf until " + ec.NotAfterText);
        var v1 = new Certificate(Sample("certs/v1-rsa1024.der"));
        Expect(v1.Version == 1 && v1.Extensions.Count == 0 && v1.KeyUsage == null && v1.ExtendedKeyUsage == null && v1.SubjectAltNames.Count == 0
            && !v1.IsCA && v1.PublicKeyInfo.Bits == 1024 && v1.RsaModulus.Length == 128, "v1 certificate without extensions");

        // Requests, DER and PEM; the extension request's SANs and key usage.
        var request = new Request(Sample("requests/ec-p256.der"));
        Expect(request.Subject.Rfc4514 == "CN=kestrix request P-256,O=Kestrix Samples,L=Hamburg,C=DE" && request.PublicKeyInfo.Curve == "prime256v1"
            && request.PublicKeyInfo.Bits == 256 && request.SignatureAlgorithm == "ecdsa-with-SHA256" && request.Extensions.Count == 0,
            "request " + request.Subject + ", " + request.PublicKeyInfo.Algorithm);
        var decoded = Request.Decode(File.ReadAllText(Path.Combine(samples, "requests", "rsa2048.pem")));
        var cjkRequest = new Request(Sample("requests/ed25519-cjk.der"));
        Expect(decoded.Subject["commonName"] == "kestrix request RSA-2048" && decoded.PublicKey.Length == 270
            && cjkRequest.Subject.Rfc4514 == "CN=中国 测试 请求,O=测试机构,C=CN" && cjkRequest.PublicKeyInfo.Algorithm == "ED25519",
            "PEM request " + decoded.Subject["commonName"] + ", request " + cjkRequest.Subject);
        var requested = new Request(File.ReadAllBytes(args[1]));
        Expect(Join(requested.SubjectAltNames) == "DNS:request.kestrix.test, IP:192.0.2.7" && Join(requested.KeyUsage) == "digitalSignature"
            && requested.Extensions.Single(e => e.Name == "keyUsage").Critical, "requested " + Join(requested.SubjectAltNames));

        // The framing check reads every length form as the library does.
        int agreed = 0, forms = 0;
        foreach (int first in new[] { 0x00, 0x05, 0x7F, 0x80, 0x81, 0x82, 0x83, 0x84, 0x85, 0xFF })
        {
            var header = new byte[2 + (first >= 0x81 && first <= 0x84 ? first - 0x80 : 0)];
            header[0] = 0x30;
            header[1] = (byte)first;
            if (header.Length > 2) header[header.Length - 1] = 0x10;  // a length of 16
            int total = KestrixNative.getcertlen(header);
            var element = new byte[total];
            Array.Copy(header, element, header.Length);
            var shorter = new byte[total - 1];
            Array.Copy(element, shorter, shorter.Length);
            bool refused = false;
            try { Certificate.ElementSize(shorter); } catch (KestrixException) { refused = true; }
            forms++;
            if (Certificate.ElementSize(element) == total && refused) agreed++;
        }
        Expect(agreed == forms, "ElementSize agrees with getcertlen on " + agreed + " of " + forms + " length forms");

        var cut = new byte[cert.Der.Length - 1];
        Array.Copy(cert.Der, cut, cut.Length);
        try { new Certificate(cut); Expect(false, "a cut certificate refused"); }
        catch (KestrixException e) { Expect(e.Message.Contains("declares"), "a cut certificate refused before the library: " + e.Message); }
        var damaged = (byte[])cert.Der.Clone();
        damaged[20] ^= 0x10;  // the TBS signature algorithm, a SEQUENCE no more
        try { new Certificate(damaged); Expect(false, "a damaged certificate refused"); }
        catch (KestrixException e) { Expect(e.Status == KestrixNative.KX_ERR_MALFORMED && e.Message.Contains(" at offset "), "a damaged certificate: " + e.Message); }
        try { Request.Decode("no request"); Expect(false, "text without armour refused"); }
        catch (KestrixException e) { Expect(e.Status == KestrixNative.KX_NO_REQUEST_ARMOUR, "text without armour: status " + e.Status); }
        Console.WriteLine("dotnet: " + (failed == 0 ? "all passed" : failed + " failed"));
        return failed == 0 ? 0 : 1;
    }
}
