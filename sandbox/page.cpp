#include "page.hpp"

namespace lumivane::sandbox {

std::string_view configurator_page_html() {
  static constexpr std::string_view page = R"html(<!DOCTYPE html>
<html lang="fr">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Lumivane · Configurateur de menuiseries</title>
<style>
  :root { --bleu: #1f4e79; --bleu-clair: #e8f0f8; --gris: #5f6b76; --bord: #d9e0e7; --vert: #2e7d4f; }
  * { box-sizing: border-box; }
  body { margin: 0; font-family: "Segoe UI", "DejaVu Sans", Arial, sans-serif; color: #1d2730; background: #f4f6f8; }
  header { background: linear-gradient(90deg, #1f4e79, #2f6fa3); color: #fff; padding: 18px 32px; display: flex; align-items: baseline; gap: 18px; }
  header h1 { margin: 0; font-size: 24px; letter-spacing: .5px; }
  header span { opacity: .85; font-size: 14px; }
  main { display: grid; grid-template-columns: 1fr 340px; gap: 24px; padding: 24px 32px; max-width: 1280px; margin: 0 auto; }
  @media (max-width: 900px) { main { grid-template-columns: 1fr; } }
  .produits { display: grid; grid-template-columns: repeat(auto-fill, minmax(250px, 1fr)); gap: 18px; align-content: start; }
  .carte { background: #fff; border: 1px solid var(--bord); border-radius: 10px; overflow: hidden; display: flex; flex-direction: column; box-shadow: 0 1px 3px rgba(0,0,0,.05); }
  .carte.choisie { border-color: var(--bleu); box-shadow: 0 0 0 2px var(--bleu-clair); }
  .carte img { width: 100%; aspect-ratio: 4 / 3; object-fit: cover; background: var(--bleu-clair); }
  .carte .corps { padding: 12px 14px 14px; display: flex; flex-direction: column; gap: 6px; flex: 1; }
  .carte h2 { margin: 0; font-size: 16px; }
  .carte p { margin: 0; font-size: 13px; color: var(--gris); flex: 1; }
  .code { font-size: 11px; color: var(--gris); letter-spacing: .5px; }
  .ligne-prix { display: flex; justify-content: space-between; align-items: center; margin-top: 8px; }
  .prix { font-weight: 600; font-size: 17px; color: var(--bleu); }
  .quantite { display: flex; align-items: center; border: 1px solid var(--bord); border-radius: 6px; overflow: hidden; }
  .quantite button { border: 0; background: var(--bleu-clair); width: 30px; height: 30px; font-size: 18px; cursor: pointer; color: var(--bleu); }
  .quantite input { width: 46px; height: 30px; border: 0; text-align: center; font-size: 15px; }
  aside { background: #fff; border: 1px solid var(--bord); border-radius: 10px; padding: 18px; align-self: start; position: sticky; top: 16px; }
  aside h2 { margin: 0 0 12px; font-size: 18px; }
  table { width: 100%; border-collapse: collapse; font-size: 13px; }
  td { padding: 6px 0; border-bottom: 1px solid #eef1f4; vertical-align: top; }
  td.montant { text-align: right; white-space: nowrap; padding-left: 8px; }
  .vide { color: var(--gris); font-style: italic; font-size: 13px; }
  .total { display: flex; justify-content: space-between; font-size: 18px; font-weight: 700; margin: 14px 0; }
  .enregistrer { width: 100%; padding: 12px; font-size: 16px; font-weight: 600; color: #fff; background: var(--bleu); border: 0; border-radius: 8px; cursor: pointer; }
  .enregistrer:disabled { background: #9fb3c6; cursor: default; }
  .message { margin-top: 14px; padding: 12px; border-radius: 8px; font-size: 14px; display: none; }
  .message.ok { display: block; background: #e7f5ec; color: var(--vert); border: 1px solid #b9e0c6; }
  .message.erreur { display: block; background: #fdecec; color: #a12a2a; border: 1px solid #f3c2c2; }
</style>
</head>
<body>
<header><h1>Lumivane</h1><span>Configurateur de menuiseries</span></header>
<main>
  <section class="produits" id="produits"><p class="vide">Chargement du catalogue…</p></section>
  <aside>
    <h2>Votre devis</h2>
    <table id="lignes"></table>
    <p class="vide" id="aucune">Aucun produit choisi pour l'instant.</p>
    <div class="total"><span>Total HT</span><span id="total">0,00 €</span></div>
    <button class="enregistrer" id="enregistrer" disabled>Enregistrer le devis</button>
    <div class="message" id="message"></div>
  </aside>
</main>
<script>
"use strict";
const jeton = new URLSearchParams(location.search).get("jeton") || "";
const euros = new Intl.NumberFormat("fr-FR", { style: "currency", currency: "EUR" });
const centimes = prix => Math.round(parseFloat(prix) * 100);
let produits = [];
const quantites = new Map();

function element(nom, attributs = {}, ...enfants) {
  const noeud = document.createElement(nom);
  for (const [cle, valeur] of Object.entries(attributs)) {
    if (cle === "texte") noeud.textContent = valeur; else noeud.setAttribute(cle, valeur);
  }
  noeud.append(...enfants);
  return noeud;
}

function afficherCatalogue() {
  const zone = document.getElementById("produits");
  zone.replaceChildren();
  for (const produit of produits) {
    const champ = element("input", { type: "number", min: "0", max: "999", value: "0", "aria-label": "Quantité" });
    const moins = element("button", { type: "button", texte: "−", "aria-label": "Retirer" });
    const plus = element("button", { type: "button", texte: "+", "aria-label": "Ajouter" });
    const carte = element("article", { class: "carte" },
      element("img", { src: produit.image, alt: produit.designation }),
      element("div", { class: "corps" },
        element("span", { class: "code", texte: produit.code }),
        element("h2", { texte: produit.designation }),
        element("p", { texte: produit.description }),
        element("div", { class: "ligne-prix" },
          element("span", { class: "prix", texte: euros.format(centimes(produit.prix) / 100) }),
          element("div", { class: "quantite" }, moins, champ, plus))));
    const regler = valeur => {
      const quantite = Math.max(0, Math.min(999, Math.floor(Number(valeur)) || 0));
      champ.value = quantite;
      carte.classList.toggle("choisie", quantite > 0);
      if (quantite > 0) quantites.set(produit.code, quantite); else quantites.delete(produit.code);
      afficherDevis();
    };
    moins.onclick = () => regler(Number(champ.value) - 1);
    plus.onclick = () => regler(Number(champ.value) + 1);
    champ.onchange = () => regler(champ.value);
    zone.append(carte);
  }
}

function afficherDevis() {
  const table = document.getElementById("lignes");
  table.replaceChildren();
  let total = 0;
  for (const produit of produits) {
    const quantite = quantites.get(produit.code);
    if (!quantite) continue;
    const montant = centimes(produit.prix) * quantite;
    total += montant;
    table.append(element("tr", {},
      element("td", { texte: quantite + " × " + produit.designation }),
      element("td", { class: "montant", texte: euros.format(montant / 100) })));
  }
  document.getElementById("aucune").style.display = quantites.size ? "none" : "block";
  document.getElementById("total").textContent = euros.format(total / 100);
  document.getElementById("enregistrer").disabled = quantites.size === 0 || !jeton;
}

function montrer(texte, genre) {
  const zone = document.getElementById("message");
  zone.className = "message " + genre;
  zone.textContent = texte;
}

async function enregistrer() {
  const bouton = document.getElementById("enregistrer");
  bouton.disabled = true;
  const lignes = [...quantites].map(([produit, quantite]) => ({ produit, quantite }));
  try {
    const reponse = await fetch("/configurateur/devis?jeton=" + encodeURIComponent(jeton), {
      method: "POST", headers: { "Content-Type": "application/json" }, body: JSON.stringify({ lignes }) });
    const resultat = await reponse.json();
    if (!reponse.ok) throw new Error(resultat.erreur || "Erreur " + reponse.status);
    montrer("Devis " + resultat.numero + " enregistré. Revenez au module et cliquez sur « Récupérer le devis ».", "ok");
  } catch (erreur) {
    montrer("Le devis n'a pas pu être enregistré : " + erreur.message, "erreur");
  } finally {
    afficherDevis();
  }
}

document.getElementById("enregistrer").onclick = enregistrer;
if (!jeton) montrer("Session absente : ouvrez le configurateur depuis le module.", "erreur");
fetch("/catalogue")
  .then(reponse => reponse.json())
  .then(liste => { produits = liste; afficherCatalogue(); afficherDevis(); })
  .catch(() => montrer("Le catalogue n'a pas pu être chargé.", "erreur"));
</script>
</body>
</html>
)html";
  return page;
}

}  // namespace lumivane::sandbox
