// The C# binding under Mono against the shared library: the sample
// certificate's items and the sample request's record as the C tests have
// them, and refusals. usage: mono test.exe SAMPLES_DIR
using System;
using System.IO;
using Kestrix;

static class DotnetTest
{
    static int failed;

    static void Expect(bool condition, string what)
    {
        Console.WriteLine((condition ? "ok   " : "FAIL ") + what);
        if (!condition) failed++;
    }

    static int Main(string[] args)
    {
        string samples = args[0];
        var cert = new Certificate(File.ReadAllBytes(Path.Combine(samples, "cert-rsa2048.der")));
        Expect(cert.SubjectCommonName == "kestrix sample RSA-2048", "subject commonName " + cert.SubjectCommonName);
        Expect(cert.SerialNumber == "5a17c0de01", "serial " + cert.SerialNumber);
        Expect(cert.NotAfter == new DateTime(2034, 12, 31, 23, 59, 59, DateTimeKind.Utc), "notAfter " + cert.NotAfter.ToString("o"));
        Expect(cert.IsCA && cert.PublicKey.Length == 270 && cert.RsaModulus.Length == 256, "CA, 270-byte key, 256-byte modulus");
        Expect(cert.ValidAt(new DateTime(2030, 1, 1)) && !cert.ValidAt(new DateTime(2040, 1, 1)), "valid in 2030, not in 2040");
        Expect(Base64.Decode(Base64.Encode(cert.Der)).Length == cert.Der.Length, "Base64 round trip");

        var request = Request.Decode(File.ReadAllText(Path.Combine(samples, "requests", "rsa2048.pem")));
        Expect(request.Subject["commonName"] == "kestrix request RSA-2048" && request.PublicKey.Length == 270,
            "request " + request.Subject["commonName"] + ", " + request.PublicKey.Length + "-byte key");

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
        try { Request.Decode("no request"); Expect(false, "text without armour refused"); }
        catch (KestrixException e) { Expect(e.Status == KestrixNative.KX_NO_REQUEST_ARMOUR, "text without armour: status " + e.Status); }
        Console.WriteLine("dotnet: " + (failed == 0 ? "all passed" : failed + " failed"));
        return failed == 0 ? 0 : 1;
    }
}
