// The built-in prompt texts of every locale. This file is UTF-8; the texts
// are compiled as UTF-16.
//
// The English entry announces the "Start Now" button of the current prompt
// program and carries HTML. The translations still ask the older question
// (may the running Office applications be closed?) as plain text.
#include "prompt/localized_texts.h"

namespace {

struct LocaleTexts {
  const char* locale;
  const wchar_t* uiUpper;
  const wchar_t* uiLower;
  const wchar_t* yes;
  const wchar_t* skip;
  const wchar_t* completed;
};

const LocaleTexts kTexts[] = {
    {"defaultval",
     L"\nOffice updates are pending installation in your system. By clicking on Start Now, the currently running "
     L"Office applications will be auto-closed to proceed with the installation. <br><b style=\"color: red;\"> "
     L"Ensure to save your work before proceeding. </b>",
     L"\n(Skipping will postpone the deployment to the next refresh cycle)", L"Yes", L"Skip",
     L"The patch deployment has been completed!You can now start using the Office application."},
    {"cs-CZ",
     L"\nV systému jsou naplánované aktualizace Office. Aplikace Office jsou právě spuštěné. Můžeme je zavřít, aby "
     L"mohla instalace aktualizací pokračovat?",
     L"\n(Přeskočením odložíte nasazení do příštího cyklu aktualizace)", L"Ano", L"Přeskočit",
     L"Nasazení aktualizací bylo dokončeno! Nyní můžete aplikace Office opět používat."},
    {"da-DK",
     L"\nDer er planlagt Office-opdateringer på din computer. Der kører Office-programmer lige nu. Må de lukkes, så "
     L"installationen af opdateringerne kan fortsætte?",
     L"\n(Hvis du springer over, udsættes installationen til næste opdateringscyklus)", L"Ja", L"Spring over",
     L"Installationen af opdateringerne er fuldført! Du kan nu bruge Office-programmerne igen."},
    {"de-DE",
     L"\nFür Ihr System sind Office-Updates geplant. Zurzeit werden Office-Anwendungen ausgeführt. Dürfen diese "
     L"geschlossen werden, damit die Installation der Updates fortgesetzt werden kann?",
     L"\n(Beim Überspringen wird die Installation auf den nächsten Aktualisierungszyklus verschoben)", L"Ja",
     L"Überspringen",
     L"Die Installation der Updates ist abgeschlossen! Sie können die Office-Anwendungen jetzt wieder verwenden."},
    {"es-ES",
     L"\nHay actualizaciones de Office programadas para su equipo. En este momento hay aplicaciones de Office "
     L"abiertas. ¿Se pueden cerrar para continuar con la instalación de las actualizaciones?",
     L"\n(Si omite este paso, la implementación se pospondrá hasta el próximo ciclo de actualización)", L"Sí",
     L"Omitir",
     L"¡La implementación de las actualizaciones ha finalizado! Ya puede volver a usar las aplicaciones de Office."},
    {"fi-FI",
     L"\nJärjestelmääsi on ajoitettu Office-päivityksiä. Office-sovelluksia on parhaillaan käynnissä. Saako ne "
     L"sulkea, jotta päivitysten asennusta voidaan jatkaa?",
     L"\n(Jos ohitat, käyttöönotto siirtyy seuraavaan päivityskierrokseen)", L"Kyllä", L"Ohita",
     L"Päivitysten käyttöönotto on valmis! Voit nyt jatkaa Office-sovellusten käyttöä."},
    {"fr-FR",
     L"\nDes mises à jour d'Office sont planifiées sur votre ordinateur. Des applications Office sont actuellement "
     L"ouvertes. Peuvent-elles être fermées pour poursuivre l'installation des mises à jour ?",
     L"\n(Si vous ignorez cette étape, le déploiement sera reporté au prochain cycle d'actualisation)", L"Oui",
     L"Ignorer",
     L"Le déploiement des mises à jour est terminé ! Vous pouvez de nouveau utiliser les applications Office."},
    {"hu-HU",
     L"\nOffice-frissítések telepítése van ütemezve a számítógépén. Jelenleg Office-alkalmazások futnak. Bezárhatók "
     L"ezek, hogy a frissítések telepítése folytatódhasson?",
     L"\n(Kihagyás esetén a telepítés a következő frissítési ciklusra halasztódik)", L"Igen", L"Kihagyás",
     L"A frissítések telepítése befejeződött! Most már ismét használhatja az Office-alkalmazásokat."},
    {"it-IT",
     L"\nSono pianificati aggiornamenti di Office per il sistema. Alcune applicazioni di Office sono attualmente in "
     L"esecuzione. È possibile chiuderle per proseguire con l'installazione degli aggiornamenti?",
     L"\n(Se si salta, la distribuzione verrà rimandata al prossimo ciclo di aggiornamento)", L"Sì", L"Salta",
     L"La distribuzione degli aggiornamenti è stata completata! Ora è possibile riprendere a usare le applicazioni "
     L"di Office."},
    {"ko-KR",
     L"\n시스템에 Office 업데이트가 예약되어 있습니다. 현재 Office 응용 프로그램이 실행 중입니다. 업데이트 설치를 "
     L"계속하기 위해 응용 프로그램을 닫아도 되겠습니까?",
     L"\n(건너뛰면 배포가 다음 새로 고침 주기로 연기됩니다)", L"예", L"건너뛰기",
     L"업데이트 배포가 완료되었습니다! 이제 Office 응용 프로그램을 사용할 수 있습니다."},
    {"nb-NO",
     L"\nDet er planlagt Office-oppdateringer på datamaskinen din. Office-programmer kjører nå. Kan de lukkes slik at "
     L"installasjonen av oppdateringene kan fortsette?",
     L"\n(Hvis du hopper over, utsettes installasjonen til neste oppdateringssyklus)", L"Ja", L"Hopp over",
     L"Installasjonen av oppdateringene er fullført! Du kan nå bruke Office-programmene igjen."},
    {"nl-NL",
     L"\nEr staan Office-updates gepland voor uw systeem. Er zijn momenteel Office-toepassingen geopend. Mogen deze "
     L"worden gesloten zodat de installatie van de updates kan doorgaan?",
     L"\n(Als u dit overslaat, wordt de implementatie uitgesteld tot de volgende vernieuwingscyclus)", L"Ja",
     L"Overslaan", L"De implementatie van de updates is voltooid! U kunt de Office-toepassingen nu weer gebruiken."},
    {"pl-PL",
     L"\nW systemie zaplanowano aktualizacje pakietu Office. Aplikacje pakietu Office są obecnie uruchomione. Czy "
     L"można je zamknąć, aby kontynuować instalację aktualizacji?",
     L"\n(Pominięcie spowoduje przełożenie wdrożenia do następnego cyklu odświeżania)", L"Tak", L"Pomiń",
     L"Wdrażanie aktualizacji zostało zakończone! Możesz teraz ponownie korzystać z aplikacji pakietu Office."},
    {"pt-BR",
     L"\nHá atualizações do Office agendadas para o seu computador. Há aplicativos do Office em execução no momento. "
     L"Eles podem ser fechados para continuar a instalação das atualizações?",
     L"\n(Se você ignorar, a implantação será adiada para o próximo ciclo de atualização)", L"Sim", L"Ignorar",
     L"A implantação das atualizações foi concluída! Agora você já pode usar os aplicativos do Office."},
    {"pt-PT",
     L"\nExistem atualizações do Office agendadas para o seu computador. Há aplicações do Office em execução neste "
     L"momento. Podem ser fechadas para continuar a instalação das atualizações?",
     L"\n(Se ignorar, a implementação será adiada para o próximo ciclo de atualização)", L"Sim", L"Ignorar",
     L"A implementação das atualizações foi concluída! Já pode voltar a utilizar as aplicações do Office."},
    {"ru-RU",
     L"\nДля вашего компьютера запланированы обновления Office. Сейчас запущены приложения Office. Можно ли закрыть "
     L"их, чтобы продолжить установку обновлений?",
     L"\n(Если пропустить, развертывание будет отложено до следующего цикла обновления)", L"Да", L"Пропустить",
     L"Развертывание обновлений завершено! Теперь вы можете снова пользоваться приложениями Office."},
    {"sv-SE",
     L"\nOffice-uppdateringar är schemalagda för din dator. Office-program körs just nu. Får de stängas så att "
     L"installationen av uppdateringarna kan fortsätta?",
     L"\n(Om du hoppar över skjuts distributionen upp till nästa uppdateringscykel)", L"Ja", L"Hoppa över",
     L"Distributionen av uppdateringarna är klar! Du kan nu använda Office-programmen igen."},
    {"tr-TR",
     L"\nSisteminiz için Office güncelleştirmeleri zamanlandı. Şu anda Office uygulamaları çalışıyor. "
     L"Güncelleştirmelerin yüklenmesine devam etmek için bu uygulamalar kapatılabilir mi?",
     L"\n(Atlarsanız dağıtım bir sonraki yenileme döngüsüne ertelenir)", L"Evet", L"Atla",
     L"Güncelleştirmelerin dağıtımı tamamlandı! Artık Office uygulamalarını kullanabilirsiniz."},
    {"zh-CN",
     L"\n系统已计划安装 Office 更新。当前有 Office 应用程序正在运行。是否可以关闭这些应用程序以继续安装更新？",
     L"\n（跳过后，部署将推迟到下一个刷新周期）", L"是", L"跳过",
     L"更新部署已完成！现在可以开始使用 Office 应用程序了。"},
    {"zh-TW",
     L"\n系統已排定安裝 Office 更新。目前有 Office 應用程式正在執行。是否可以關閉這些應用程式以繼續安裝更新？",
     L"\n（略過後，部署將延後至下一個重新整理週期）", L"是", L"略過",
     L"更新部署已完成！現在您可以開始使用 Office 應用程式。"},
    {"ja-JP",
     L"\nお使いのシステムに Office の更新プログラムのインストールが予定されています。現在 Office "
     L"アプリケーションが実行中です。更新プログラムのインストールを続行するために、これらのアプリケーションを閉じて"
     L"もよろしいですか？",
     L"\n（スキップすると、展開は次回の更新サイクルまで延期されます）", L"はい", L"スキップ",
     L"更新プログラムの展開が完了しました。Office アプリケーションを使用できるようになりました。"},
};

}  // namespace

void LocalizedPromptTexts::LoadPromptTexts() {
  for (const LocaleTexts& t : kTexts) AddLocaleTexts(t.locale, t.uiUpper, t.uiLower, t.yes, t.skip, t.completed);
}
