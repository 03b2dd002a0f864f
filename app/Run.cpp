// The frame of a run: arguments, the three objects of the run, dispatch and the exit status.
#include "app/Run.h"

#include "app/Commands.h"
#include "platform/Errors.h"
#include "platform/Text.h"

#include <cstdio>
#include <exception>
#include <memory>
#include <new>
#include <string>

namespace {

void PrintUsage() {
  std::printf("kelpix 1.0.0 - pages of STI images, by the kelpix developers\n");
  std::printf("Usage: kelpix.exe options stifile < file | @list > [ dispX dispY [ R G B ] ]\n");
  std::printf("l          view STI file\n");
  std::printf("e          extract pages in current dir\n");
  std::printf("d          delete pages\n");
  std::printf("a[a]       add pages\n");
  std::printf("m[a]       refresh pages\n");
  std::printf(" [a]       adapt palette for added pages\n");
}

int RunCommand(int argc, char** argv) {
  auto Bitmap = std::make_unique<TBitmap>();
  auto Names = std::make_unique<TStringList>();
  const int Arguments = argc - 1;
  if (Arguments < 2) {
    PrintUsage();
    return Result::Usage;
  }

  auto Image = std::make_unique<TSti>();
  const int Opened = Image->Open(argv[2], 0);

  if (Arguments >= 3) {
    const std::string Names3 = argv[3];
    if (!Names3.empty() && Names3[0] == '@')
      Names->LoadFromFile(Names3.substr(1));
    else
      Names->Add(Names3);
  }

  TRunContext Context{*Bitmap, *Names, *Image};
  try {
    if (Arguments >= 4)
      Context.DispX = StrToInt(argv[4]);
    if (Arguments >= 5)
      Context.DispY = StrToInt(argv[5]);
    if (Arguments >= 8) {
      Context.Red = StrToInt(argv[6]);
      Context.Green = StrToInt(argv[7]);
      Context.Blue = StrToInt(argv[8]);
    }
  } catch (const EConvertError&) {
    return Result::Usage;
  }

  int Outcome = Opened;
  if (Opened == Result::Ok) {
    const std::string Options = argv[1];
    const char Letter = Options.empty() ? '\0' : Options[0];
    Context.Adapt = Options.size() >= 2 && Options[1] == 'a';
    switch (Letter) {
      case 'l':
      case 'L':
        Outcome = ListCommand(Context);
        break;
      case 'e':
      case 'E':
        Outcome = ExtractCommand(Context);
        break;
      case 'd':
      case 'D':
        Outcome = DeleteCommand(Context);
        break;
      case 'a':
      case 'A':
        Outcome = AddCommand(Context);
        break;
      case 'm':
      case 'M':
        Context.Refresh = true;
        Outcome = AddCommand(Context);
        break;
      default:
        break;
    }
  }

  // The image goes first, then the bitmap, then the name list.
  Image.reset();
  Bitmap.reset();
  Names.reset();
  return Outcome;
}

}  // namespace

int Run(int argc, char** argv) {
  try {
    return RunCommand(argc, argv);
  } catch (const EPlatformError& Error) {
    std::fflush(stdout);
    std::fprintf(stderr, "kelpix: %s\n", Error.what());
    return Result::PlatformFailure;
  } catch (const std::bad_alloc&) {
    std::fflush(stdout);
    std::fprintf(stderr, "kelpix: out of memory\n");
    return Result::PlatformFailure;
  } catch (const std::exception& Error) {
    // Not expected from any input; reported like a failure of the system rather than a crash.
    std::fflush(stdout);
    std::fprintf(stderr, "kelpix: %s\n", Error.what());
    return Result::PlatformFailure;
  }
}
