#include "Languages.h"

namespace {

// The codes as consecutive ShortStrings of length 2, entry 1 first. Not
// const: the installer library gets the address of one, like its other
// arguments, and may write to it.
char gLanguageCodes[] =
    "\2HE\2GR\2LA\2BR\2BS\2CA\2CO\2CS\2CP\2CU\2CY\2DA\2DE\2AR\2EN\2ES\2FA\2FI\2FR\2GA\2GD\2AM\2HR\2HU\2HY\2ID"
    "\2IE\2IS\2IT\2JA\2KO\2BO\2LT\2MG\2NO\2OC\2PT\2PL\2RO\2RU\2SA\2SK\2SL\2SQ\2SR\2SV\2SY\2TR\2TY\2UK\2VI\2ZH"
    "\2NL";
static_assert(sizeof(gLanguageCodes) == kLanguageCount * 3 + 1, "53 codes of three bytes");

// Windows-1252. Split literals where a hex escape is followed by a hex digit.
const char kGermanTexts[] =
    "Direktorium f\xFCr Installation der Kartei:/Anfangen/Annullieren/Aktuelles Laden.../Update/"
    "Hat es einen Irrtum w\xE4hrend der Verbindung mit dem Internet gegeben./Schreibschutz entfernen!/"
    "Beim Schreiben auf die Festplatte ist ein Fehler aufgetreten./"
    "Dazu sind Administratorrechte n\xF6tig./";
const char kEnglishTexts[] =
    "Loading, please wait.../Update/An error occurred during connection to the Internet./Read only error!/"
    "An error occurred while writing to the disk./"
    "Administrator rights are needed to write there./";
const char kSpanishTexts[] =
    "Repertorio para la instalaci\xF3n de los archivos:/Instala/Anular/Cargando.../Actualizaci\xF3n/"
    "Se ha producido un error durante la conexi\xF3n a Internet./Protecci\xF3n contra escritura!/"
    "Se ha producido un error al escribir en el disco./"
    "Se necesitan derechos de administrador./";
const char kFrenchTexts[] =
    "R\xE9pertoire d'installation des fichiers:/Installer/Annuler/Chargement en cours.../Mise \xE0 jour/"
    "Erreur lors de la connection au serveur via Internet./Enlevez la protection contre l'\xE9" "criture!/"
    "Erreur lors de l'\xE9" "criture sur le disque./"
    "Des droits d'administrateur sont n\xE9" "cessaires./";
const char kItalianTexts[] =
    "Directory per l\x92installazione dei file:/Installa/Annula/Caricamento in corso.../Aggiornamento/"
    "C\x92\xE8 stato un errore durante il collegamento ad Internet./Impossibile scrivere!/"
    "Si \xE8 verificato un errore durante la scrittura sul disco./"
    "Servono i diritti di amministratore./";

}  // namespace

const TLanguageEntry LanguageTable[kLanguageCount + 1] = {
    {0, nullptr},                                                                   // unused
    {0x00, nullptr},      {0x01, nullptr},      {0x00, nullptr}, {0x0C, nullptr},   // 1-4 HE GR LA BR
    {0x00, nullptr},      {0x03, nullptr},      {0x0C, nullptr}, {0x05, nullptr},   // 5-8 BS CA CO CS
    {0x00, nullptr},      {0x00, nullptr},      {0x00, nullptr}, {0x06, nullptr},   // 9-12 CP CU CY DA
    {0x07, kGermanTexts}, {0x08, nullptr},      {0x09, kEnglishTexts},              // 13-15 DE AR EN
    {0x0A, kSpanishTexts}, {0x29, nullptr},     {0x0B, nullptr},                    // 16-18 ES FA FI
    {0x0C, kFrenchTexts}, {0x09, nullptr},      {0x09, nullptr}, {0x0D, nullptr},   // 19-22 FR GA GD AM
    {0x00, nullptr},      {0x0E, nullptr},      {0x00, nullptr}, {0x21, nullptr},   // 23-26 HR HU HY ID
    {0x00, nullptr},      {0x0F, nullptr},      {0x10, kItalianTexts},              // 27-29 IE IS IT
    {0x11, nullptr},      {0x12, nullptr},      {0x00, nullptr}, {0x27, nullptr},   // 30-33 JA KO BO LT
    {0x00, nullptr},      {0x14, nullptr},      {0x00, nullptr}, {0x16, nullptr},   // 34-37 MG NO OC PT
    {0x15, nullptr},      {0x18, nullptr},      {0x19, nullptr}, {0x00, nullptr},   // 38-41 PL RO RU SA
    {0x1B, nullptr},      {0x24, nullptr},      {0x1C, nullptr}, {0x1A, nullptr},   // 42-45 SK SL SQ SR
    {0x1D, nullptr},      {0x00, nullptr},      {0x1F, nullptr}, {0x00, nullptr},   // 46-49 SV SY TR TY
    {0x22, nullptr},      {0x2A, nullptr},      {0x04, nullptr}, {0x13, nullptr},   // 50-53 UK VI ZH NL
};

formkit::ShortString* LanguageCode(int index) {
  if (index < 1 || index > kLanguageCount) index = kEnglishIndex;
  // The installer reads the length byte and that many characters, all of
  // which lie inside the table.
  return reinterpret_cast<formkit::ShortString*>(gLanguageCodes + (index - 1) * 3);
}

std::string LanguageCodeText(int index) {
  const char* code = reinterpret_cast<const char*>(LanguageCode(index));
  return std::string(code + 1, static_cast<std::size_t>(static_cast<unsigned char>(code[0])));
}

int LanguageFromCode(const std::string& code) {
  if (code.size() != 2) return 0;
  for (int i = 1; i <= kLanguageCount; ++i) {
    const char* entry = gLanguageCodes + (i - 1) * 3;
    if (entry[1] == code[0] && entry[2] == code[1]) return i;
  }
  return 0;
}

int LanguageFromCode(const formkit::ShortString& code) {
  return LanguageFromCode(std::string(code.Chars, code.Length));
}

int LanguageForLocale(std::uint32_t localeId) {
  // The installer library gets this entry's code (English gives "GD"), so the
  // last match wins whether or not it has texts; the dialog falls back to the
  // English texts on its own.
  constexpr std::uint32_t kPrimaryLanguageBits = (1u << 10) - 1;  // as PRIMARYLANGID takes them
  const std::uint32_t primary = localeId & kPrimaryLanguageBits;
  int last = 0;
  for (int i = 1; i <= kLanguageCount; ++i)
    if (LanguageTable[i].PrimaryLanguage == primary) last = i;
  return last;
}

std::string NextTextField(const char*& position) {
  const char* end = position;
  while (*end != '\0' && *end != '/') ++end;
  std::string field(position, static_cast<std::size_t>(end - position));
  position = *end == '/' ? end + 1 : end;
  return field;
}

bool ReadLanguageTexts(int index, TDialogTexts& texts) {
  if (index < 1 || index > kLanguageCount || LanguageTable[index].Texts == nullptr) return false;
  const char* position = LanguageTable[index].Texts;
  texts.HasCaptions = index != kEnglishIndex;
  if (texts.HasCaptions) {
    texts.PathCaption = NextTextField(position);
    texts.OkCaption = NextTextField(position);
    texts.CancelCaption = NextTextField(position);
  }
  texts.LoadingText = NextTextField(position);
  texts.UpdateCaption = NextTextField(position);
  texts.ConnectErrorText = NextTextField(position);
  texts.ReadOnlyErrorText = NextTextField(position);
  texts.DiskErrorText = NextTextField(position);
  texts.AdminRightsText = NextTextField(position);
  return true;
}
