# Checks on a real Windows machine what the Wine suite cannot: how the shell's ZIP folder holds its
# reference to the process, and how rundll32 and url.dll's FileProtocolHandler treat the command
# line that zipdrop hands them. Run it from an ordinary account in Windows PowerShell:
#
#   powershell -STA -ExecutionPolicy Bypass -File tests\windows\check_on_real_windows.ps1
#
# It works in a new folder under %TEMP%, which it removes at the end, prints one line for each
# finding, and opens and closes a few Explorer windows. The handler's ShellExecute flags cannot be
# read from outside; what the script shows is what they do: whether "%NAME%" is expanded, and
# whether program extensions are tried on a path that is no folder.
Set-StrictMode -Version 3
$ErrorActionPreference = 'Stop'
if ([Threading.Thread]::CurrentThread.GetApartmentState() -ne 'STA') { throw 'run it with -STA' }
Add-Type -AssemblyName System.Windows.Forms, System.IO.Compression.FileSystem

# The reference that the shell takes to the process, counted the way zipdrop counts it: a bare
# IUnknown registered with SHSetInstanceExplorer.
Add-Type -TypeDefinition @'
using System;
using System.Runtime.InteropServices;
using System.Threading;
public static class ProcessReference {
  [UnmanagedFunctionPointer(CallingConvention.StdCall)]
  delegate int QueryFn(IntPtr self, ref Guid iid, out IntPtr found);
  [UnmanagedFunctionPointer(CallingConvention.StdCall)]
  delegate int CountFn(IntPtr self);
  static readonly QueryFn query = Query;
  static readonly CountFn addRef = self => Interlocked.Increment(ref count);
  static readonly CountFn release = self => Interlocked.Decrement(ref count);
  static int count = 1;
  static readonly Guid unknown = new Guid("00000000-0000-0000-C000-000000000046");
  static readonly Guid agile = new Guid("94ea2b94-e9cc-49e0-c0ff-ee64ca8f5b90");
  [DllImport("shell32.dll")] static extern void SHSetInstanceExplorer(IntPtr process);
  static int Query(IntPtr self, ref Guid iid, out IntPtr found) {
    found = iid == unknown || iid == agile ? self : IntPtr.Zero;
    if (found == IntPtr.Zero) return unchecked((int)0x80004002);
    Interlocked.Increment(ref count);
    return 0;
  }
  public static int Count { get { return count; } }
  public static void Register() {
    IntPtr table = Marshal.AllocHGlobal(3 * IntPtr.Size);
    Marshal.WriteIntPtr(table, 0, Marshal.GetFunctionPointerForDelegate(query));
    Marshal.WriteIntPtr(table, IntPtr.Size, Marshal.GetFunctionPointerForDelegate(addRef));
    Marshal.WriteIntPtr(table, 2 * IntPtr.Size, Marshal.GetFunctionPointerForDelegate(release));
    IntPtr instance = Marshal.AllocHGlobal(IntPtr.Size);
    Marshal.WriteIntPtr(instance, table);
    SHSetInstanceExplorer(instance);
  }
  public static void Unregister() { SHSetInstanceExplorer(IntPtr.Zero); }
}
'@

$work = Join-Path $env:TEMP ('zipdrop-check-' + [guid]::NewGuid().ToString('N').Substring(0, 8))
New-Item -ItemType Directory $work | Out-Null
function Report($question, $answer) { '{0,-62} {1}' -f $question, $answer }
# Waits, answering the thread's messages as zipdrop does, until the condition holds or time is up.
function Wait-Until([scriptblock]$condition, [int]$seconds) {
  $end = (Get-Date).AddSeconds($seconds)
  while (-not (& $condition) -and (Get-Date) -lt $end) {
    [Windows.Forms.Application]::DoEvents()
    Start-Sleep -Milliseconds 50
  }
  [bool](& $condition)
}

# The ZIP folder: a large entry, stored, makes the copy outlast the CopyHere call.
$content = Join-Path $work 'content'
$target = Join-Path $work 'target'
New-Item -ItemType Directory $content, $target | Out-Null
$bytes = New-Object byte[] (128MB)
(New-Object Random 1).NextBytes($bytes)
[IO.File]::WriteAllBytes((Join-Path $content 'big.bin'), $bytes)
$zip = Join-Path $work 'sample.zip'
[IO.Compression.ZipFile]::CreateFromDirectory($content, $zip, 'NoCompression', $false)
[ProcessReference]::Register()
$start = [ProcessReference]::Count
$shell = New-Object -ComObject Shell.Application
$source = $shell.NameSpace($zip)
$items = $source.Items()
$destination = $shell.NameSpace($target)
$before = [ProcessReference]::Count
Report 'References held by the live NameSpace/Items/NameSpace objects' ($before - $start)
$destination.CopyHere($items)
$after = [ProcessReference]::Count
Report 'References CopyHere has taken when it returns' ($after - $before)
$copied = Join-Path $target 'big.bin'
$fellBack = Wait-Until { [ProcessReference]::Count -le $before } 600
$complete = (Test-Path $copied) -and (Get-Item $copied).Length -eq $bytes.Length
Report 'Count back to its value before CopyHere; the file then complete' "$fellBack; $complete"
foreach ($object in $destination, $items, $source, $shell) {
  [void][Runtime.InteropServices.Marshal]::ReleaseComObject($object)
}
$released = Wait-Until { [ProcessReference]::Count -le $start } 60
Report 'Count back to its start once the objects are released' $released
[ProcessReference]::Unregister()

# The folder handler, started as zipdrop starts it. An Explorer window on the folder, or a run of
# a planted program, which writes a ".ran" file beside itself, shows what the handler did.
$probeSource = 'public static class Probe { public static void Main() { System.IO.File.WriteAllText(' +
  'System.IO.Path.ChangeExtension(System.Reflection.Assembly.GetExecutingAssembly().Location, ' +
  '".ran"), System.Environment.CommandLine); } }'
$probe = Join-Path (New-Item -ItemType Directory (Join-Path $work 'probe')).FullName 'probe.exe'
Add-Type -TypeDefinition $probeSource -OutputAssembly $probe -OutputType WindowsApplication
function Plant($path) { Copy-Item $probe $path }
# Only windows that the handler opened are looked at and closed; the user's own stay as they are.
$explorer = New-Object -ComObject Shell.Application
$usersWindows = @(foreach ($window in $explorer.Windows()) { $window.HWND })
function New-Windows {
  @(foreach ($window in @($explorer.Windows())) {
    if ($usersWindows -notcontains $window.HWND) { $window }
  })
}
function Path-Of($window) { try { $window.Document.Folder.Self.Path } catch { '(not a folder)' } }
# Starts rundll32 with the text after its name, as CreateProcess would; reports any folder window
# that opened and whether the planted program ran.
function Try-Handler($question, $arguments, $planted) {
  $rundll32 = Join-Path ([Environment]::SystemDirectory) 'rundll32.exe'
  $started = [Diagnostics.Process]::Start($rundll32, $arguments)
  $started.WaitForExit()
  $ran = if ($planted) { [IO.Path]::ChangeExtension($planted, '.ran') } else { $null }
  [void](Wait-Until { @(New-Windows).Count -gt 0 -or ($ran -and (Test-Path $ran)) } 10)
  $opened = @(foreach ($window in New-Windows) { Path-Of $window }) -join ', '
  $answer = if ($opened) { "window on $opened" } else { 'no window' }
  if ($ran) { $answer += "; planted program ran: $(Test-Path $ran)" }
  Report $question $answer
  foreach ($window in New-Windows) { $window.Quit() }
}
$plain = Join-Path $work 'plain'
New-Item -ItemType Directory $plain | Out-Null
Try-Handler 'A blank after "url.dll,"' "url.dll, FileProtocolHandler $plain" $null
Try-Handler 'No blank after "url.dll,"' "url.dll,FileProtocolHandler $plain" $null
$evil = Join-Path $work 'evil%OS%'
New-Item -ItemType Directory $evil | Out-Null
Plant (Join-Path $work "evil$($env:OS).exe")
Try-Handler 'Folder "evil%OS%", with "evil<OS>.exe" beside it' "url.dll, FileProtocolHandler $evil" `
  (Join-Path $work "evil$($env:OS).exe")
Plant (Join-Path $work 'photos.exe')
Try-Handler 'No folder "photos", with "photos.exe" beside it' `
  "url.dll, FileProtocolHandler $work\photos" (Join-Path $work 'photos.exe')
# Two components, each within the file system's limit, take the path past MAX_PATH.
$long = Join-Path (Join-Path $work ('l' * 150)) ('m' * (270 - $work.Length - 152))
[void][IO.Directory]::CreateDirectory("\\?\$long")
Try-Handler "A folder of $($long.Length) characters (MAX_PATH is 260)" `
  "url.dll, FileProtocolHandler $long" $null
[IO.Directory]::Delete("\\?\$work", $true)
