{ The Free Pascal unit against the shared library: the sample certificate's
  items, its split, and the sample request's record.
  usage: pascal_test SAMPLES_DIR }
program pascal_test;

{$MODE DELPHI}

uses
  SysUtils, Classes, kestrix;

var
  Failed: Integer = 0;

procedure Expect(Condition: Boolean; const What: string);
begin
  if Condition then WriteLn('ok   ', What) else WriteLn('FAIL ', What);
  if not Condition then Inc(Failed);
end;

function ReadAll(const Path: string): TBytes;
var
  Stream: TFileStream;
begin
  Result := nil;
  Stream := TFileStream.Create(Path, fmOpenRead);
  try
    SetLength(Result, Stream.Size);
    Stream.ReadBuffer(Result[0], Stream.Size);
  finally
    Stream.Free;
  end;
end;

var
  Der, Pem: TBytes;
  Text: array[0..KX_ITEM_BUFFER_SIZE - 1] of AnsiChar;
  Tbs: array[0..KX_MAX_TBS_SIZE - 1] of Byte;
  Sig: array[0..KX_MAX_SIGNATURE_SIZE - 1] of Byte;
  Number, Len, TbsLen, SigLen, Status: Int32;
  Record_: P10RequestInfo;
begin
  Der := ReadAll(IncludeTrailingPathDelimiter(ParamStr(1)) + 'cert-rsa2048.der');
  { The library reads no size: the element must fill the bytes read. }
  Expect(getcertlen(@Der[0]) = Length(Der), 'getcertlen ' + IntToStr(getcertlen(@Der[0])));
  { Each call before its check: Pascal may build the message first. }
  Status := GetCertInfo(Length(Der), @Der[0], KX_ITEM_SUBJECT_COMMON_NAME, @Number, @Len, @Text[0]);
  Expect((Status = KX_OK) and (StrPas(PAnsiChar(@Text[0])) = 'kestrix sample RSA-2048'),
    'subject commonName ' + StrPas(PAnsiChar(@Text[0])));
  Status := GetCertInfo(Length(Der), @Der[0], KX_ITEM_KEY_USAGE, @Number, @Len, @Text[0]);
  Expect((Status = KX_OK) and (Number = $8600), 'key usage ' + IntToHex(Number, 4));
  Status := CerExpand(@Der[0], @Tbs[0], @TbsLen, @Sig[0], @SigLen);
  Expect((Status = KX_OK) and (TbsLen = 726) and (SigLen = 256),
    'CerExpand ' + IntToStr(TbsLen) + ' + ' + IntToStr(SigLen));

  Pem := ReadAll(IncludeTrailingPathDelimiter(ParamStr(1)) + 'requests/rsa2048.pem');
  SetLength(Pem, Length(Pem) + 1);
  Pem[High(Pem)] := 0;
  Status := RC_decodep10pemtxt(PAnsiChar(@Pem[0]), Length(Pem), @Record_);
  Expect((Status = KX_OK) and (StrPas(PAnsiChar(@Record_.commonName[0])) = 'kestrix request RSA-2048')
    and (Record_.publicKeyLen = 270),
    'request ' + StrPas(PAnsiChar(@Record_.commonName[0])) + ', ' + IntToStr(Record_.publicKeyLen) + '-byte key');
  Expect(SizeOf(P10RequestInfo) = 1860, 'P10RequestInfo is 1860 bytes');
  if Failed = 0 then WriteLn('pascal: all passed') else WriteLn('pascal: ', Failed, ' failed');
  if Failed <> 0 then Halt(1);
end.
